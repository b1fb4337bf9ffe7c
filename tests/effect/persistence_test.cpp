// Saving and loading an effect with its parameter block, the way the host
// keeps it in a scene file: every value and key comes back, nodes are found
// again by name, and every failure is reported.
#include <gtest/gtest.h>

#include <cstring>

#include "support/render_fixture.h"
#include "host/sdk/reference_io.h"

namespace {

const ParamBlockDesc2& Desc() { return qe_velumbra_param_blk; }

// A value that differs from the parameter's default, per type.
void SetNonDefault(IParamBlock2* pb, const ParamDef& def, INode* node) {
  switch (def.type) {
    case TYPE_INT:
      ASSERT_TRUE(pb->SetValue(def.id, 0, def.def.i + 3));
      break;
    case TYPE_BOOL:
      ASSERT_TRUE(pb->SetValue(def.id, 0, 1 - def.def.i));
      break;
    case TYPE_RADIOBTN_INDEX:
      ASSERT_TRUE(pb->SetValue(def.id, 0, def.def.i == 0 ? 1 : 0));
      break;
    case TYPE_FLOAT:
      ASSERT_TRUE(pb->SetValue(def.id, 0, def.def.f + 0.375f));
      break;
    case TYPE_RGBA:
      ASSERT_TRUE(pb->SetValue(def.id, 0, Color(0.25f, 0.5f, 0.125f)));
      break;
    case TYPE_INODE:
      ASSERT_TRUE(pb->SetValue(def.id, 0, node));
      break;
    case TYPE_STRING:
    case TYPE_FILENAME:
      ASSERT_TRUE(pb->SetValue(def.id, 0, (def.def.s + " \u00e9dited, with spaces").c_str()));
      break;
  }
}

// Every parameter of `a` and `b` equal at `t`; nodes compared by name (the
// two blocks may live in two scenes).
void ExpectSameValues(IParamBlock2* a, IParamBlock2* b, TimeValue t) {
  for (int k = 0; k < Desc().Count(); ++k) {
    const ParamDef& def = *Desc().GetParamDefByIndex(k);
    Interval va = FOREVER, vb = FOREVER;
    SCOPED_TRACE(def.internalName + " at " + std::to_string(t));
    switch (def.type) {
      case TYPE_INT:
      case TYPE_BOOL:
      case TYPE_RADIOBTN_INDEX: {
        int x = -1, y = -2;
        ASSERT_TRUE(a->GetValue(def.id, t, x, va));
        ASSERT_TRUE(b->GetValue(def.id, t, y, vb));
        EXPECT_EQ(x, y);
        break;
      }
      case TYPE_FLOAT: {
        float x = -1, y = -2;
        ASSERT_TRUE(a->GetValue(def.id, t, x, va));
        ASSERT_TRUE(b->GetValue(def.id, t, y, vb));
        EXPECT_EQ(std::memcmp(&x, &y, sizeof x), 0) << x << " vs " << y;
        break;
      }
      case TYPE_RGBA: {
        Color x(-1, -1, -1), y(-2, -2, -2);
        ASSERT_TRUE(a->GetValue(def.id, t, x, va));
        ASSERT_TRUE(b->GetValue(def.id, t, y, vb));
        EXPECT_EQ(x, y);
        break;
      }
      case TYPE_INODE: {
        INode* x = nullptr;
        INode* y = nullptr;
        ASSERT_TRUE(a->GetValue(def.id, t, x, va));
        ASSERT_TRUE(b->GetValue(def.id, t, y, vb));
        ASSERT_EQ(x == nullptr, y == nullptr);
        if (x) {
          EXPECT_STREQ(x->GetName(), y->GetName());
        }
        break;
      }
      case TYPE_STRING:
      case TYPE_FILENAME: {
        const MCHAR* x = nullptr;
        const MCHAR* y = nullptr;
        ASSERT_TRUE(a->GetValue(def.id, t, x, va));
        ASSERT_TRUE(b->GetValue(def.id, t, y, vb));
        EXPECT_STREQ(x, y);
        break;
      }
    }
    EXPECT_EQ(a->NumKeys(def.id), b->NumKeys(def.id));
    for (int i = 0; i < a->NumKeys(def.id); ++i) EXPECT_EQ(a->GetKeyTime(def.id, i), b->GetKeyTime(def.id, i));
  }
}

int IntValue(IParamBlock2* pb, ParamID id, TimeValue t = 0) {
  int v = -1;
  Interval valid = FOREVER;
  pb->GetValue(id, t, v, valid);
  return v;
}

// A save stream that takes only `limit` bytes, as a full disk would.
class LimitedSave : public MemorySave {
 public:
  explicit LimitedSave(std::size_t limit, Interface* scene = nullptr) : limit_(limit) { SetInterface(scene); }
  IOResult Write(const void* buf, ULONG nbytes, ULONG* nwritten) override {
    if (Bytes().size() + nbytes > limit_) {
      if (nwritten) *nwritten = 0;
      Fail();
      return IO_ERROR;
    }
    return MemorySave::Write(buf, nbytes, nwritten);
  }

 private:
  std::size_t limit_;
};

// Two scenes alike: the camera of RenderScene plus an "Origin" dummy.
struct SceneWithOrigin : RenderScene {
  SceneWithOrigin() {
    origin = ip.CreateNode("Origin", std::make_unique<DummyObject>());
    TransformKey k;
    k.position = Point3(0, 50, 3);
    origin->SetTransformKeys({k});
  }
  INode* origin = nullptr;
};

class EffectPersistence : public ::testing::Test {
 protected:
  void SetUp() override {
    // Every parameter away from its default, and keys of each value type.
    for (int k = 0; k < Desc().Count(); ++k) {
      const ParamDef& def = *Desc().GetParamDefByIndex(k);
      SetNonDefault(a.fx->pblock, def, def.id == pb_camera ? a.camera : a.origin);
    }
    const ParamKey<float> duration[] = {{0, 0.5f}, {160, 2.0f}, {4800, 0.25f}};
    const ParamKey<int> count[] = {{-320, 300}, {160, 900}};
    const ParamKey<Color> colour[] = {{0, Color(1, 0, 0)}, {320, Color(0, 0.5f, 1)}};
    ASSERT_TRUE(a.fx->pblock->SetKeys(pb_duration, duration));
    ASSERT_TRUE(a.fx->pblock->SetKeys(pb_starscount, count));
    ASSERT_TRUE(a.fx->pblock->SetKeys(pb_dimstarscolor, colour));
    a.fx->name = "Stars of the north";
  }

  MemorySave SaveA() {
    MemorySave save;
    save.SetInterface(&a.ip);
    EXPECT_EQ(SaveWithReferences(a.fx, &save), IO_OK) << save.Error();
    EXPECT_EQ(save.Status(), IO_OK);
    return save;
  }

  SceneWithOrigin a;
  SceneWithOrigin b;
};

TEST_F(EffectPersistence, SaveThenLoadRestoresEveryValueKeyAndTheName) {
  const MemorySave save = SaveA();
  IParamBlock2* before = b.fx->pblock;
  const int refreshes = Desc().InvalidateUICount();
  MemoryLoad load(save.Bytes());
  load.SetInterface(&b.ip);
  ASSERT_EQ(LoadWithReferences(b.fx, GetQe_VelumbraDesc(), &load), IO_OK) << load.Error();
  EXPECT_TRUE(load.Error().empty()) << load.Error();

  EXPECT_EQ(b.fx->name, "Stars of the north");
  ASSERT_NE(b.fx->pblock, nullptr);
  EXPECT_NE(b.fx->pblock, before) << "a new block, installed as reference 0";
  EXPECT_EQ(b.fx->GetReference(0), b.fx->pblock);
  ASSERT_EQ(b.fx->pblock->Dependents().size(), 1u);
  EXPECT_GT(Desc().InvalidateUICount(), refreshes) << "the rollouts show the loaded values";
  for (TimeValue t : {-1000, -320, 0, 80, 160, 200, 320, 4800, 9600}) ExpectSameValues(a.fx->pblock, b.fx->pblock, t);
  // Nodes resolve to the loading scene's nodes.
  Interval valid = FOREVER;
  INode* origin = nullptr;
  ASSERT_TRUE(b.fx->pblock->GetValue(pb_objectorigin, 0, origin, valid));
  EXPECT_EQ(origin, b.origin);
  EXPECT_EQ(b.GetNode(pb_camera), b.camera);
}

TEST_F(EffectPersistence, TheLoadedEffectRendersTheSameStars) {
  // A fresh effect with the generation settings changed, and keyed motion
  // blur: settings under which the image has light to compare.
  a.fx->DeleteMe();
  a.fx = static_cast<Qe_Velumbra*>(static_cast<Effect*>(GetQe_VelumbraDesc()->Create(FALSE)));
  a.Set(pb_seed, 777);
  a.Set(pb_starscount, 3000);
  a.Set(pb_brightstarssize, 2.5f);
  a.Set(pb_colorvariance, 40.0f);
  a.Set(pb_dimstarscolor, Color(0.2f, 0.3f, 0.9f));
  const ParamKey<float> duration[] = {{0, 0.5f}, {320, 2.0f}};
  ASSERT_TRUE(a.fx->pblock->SetKeys(pb_duration, duration));
  const std::vector<BMM_Color_64> before = a.Render(160);
  ASSERT_GT(LitPixels(before), 10);
  const MemorySave save = SaveA();
  MemoryLoad load(save.Bytes());
  load.SetInterface(&b.ip);
  ASSERT_EQ(LoadWithReferences(b.fx, GetQe_VelumbraDesc(), &load), IO_OK) << load.Error();
  EXPECT_TRUE(SamePixels(b.Render(160), before));
}

TEST_F(EffectPersistence, EveryShortWriteIsReported) {
  const std::size_t full = SaveA().Bytes().size();
  ASSERT_GT(full, 0u);
  for (std::size_t limit = 0; limit < full; ++limit) {
    LimitedSave save(limit, &a.ip);
    EXPECT_NE(SaveWithReferences(a.fx, &save), IO_OK) << "stream cut at " << limit;
    EXPECT_FALSE(save.Error().empty()) << "stream cut at " << limit;
  }
  LimitedSave enough(full, &a.ip);
  EXPECT_EQ(SaveWithReferences(a.fx, &enough), IO_OK) << enough.Error();
}

TEST_F(EffectPersistence, TheEffectPassesOnItsBasesFailure) {
  LimitedSave none(0);
  EXPECT_EQ(a.fx->Save(&none), IO_ERROR);
  MemorySave ok;
  ok.BeginChunk(1);
  EXPECT_EQ(a.fx->Save(&ok), IO_OK);
  ok.EndChunk();

  // Load: a name chunk without its terminator.
  MemorySave bad;
  bad.BeginChunk(SpecialFX::kNameChunk);
  ASSERT_EQ(bad.Write("abc", 3, nullptr), IO_OK);
  bad.EndChunk();
  MemoryLoad load(bad.Bytes());
  EXPECT_EQ(b.fx->Load(&load), IO_ERROR);
}

TEST_F(EffectPersistence, EveryCutStreamIsRefusedAndLeavesTheBlock) {
  const MemorySave save = SaveA();
  const std::vector<std::uint8_t>& bytes = save.Bytes();
  IParamBlock2* block = b.fx->pblock;
  for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
    MemoryLoad load(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut)));
    load.SetInterface(&b.ip);
    ASSERT_NE(LoadWithReferences(b.fx, GetQe_VelumbraDesc(), &load), IO_OK) << "cut at " << cut;
    EXPECT_FALSE(load.Error().empty()) << "cut at " << cut;
    ASSERT_EQ(b.fx->pblock, block) << "cut at " << cut;
  }
  EXPECT_EQ(IntValue(block, pb_seed), 12345) << "the block kept its values";
}

TEST_F(EffectPersistence, NodesAreSavedOnlyWhenTheirNameFindsThemAgain) {
  // Two nodes share a name: the second cannot be found by it.
  INode* twin1 = a.ip.CreateNode("Twin", std::make_unique<DummyObject>());
  INode* twin2 = a.ip.CreateNode("Twin", std::make_unique<DummyObject>());
  a.Set(pb_hsdirectionobject, twin2);
  MemorySave save;
  save.SetInterface(&a.ip);
  EXPECT_EQ(SaveWithReferences(a.fx, &save), IO_ERROR);
  EXPECT_NE(save.Error().find("'hsdirectionobject'"), std::string::npos) << save.Error();
  EXPECT_NE(save.Error().find("'Twin'"), std::string::npos) << save.Error();

  a.Set(pb_hsdirectionobject, twin1);  // the first of the name is fine
  MemorySave save2;
  save2.SetInterface(&a.ip);
  EXPECT_EQ(SaveWithReferences(a.fx, &save2), IO_OK) << save2.Error();

  // Without a scene no node can be named.
  MemorySave noScene;
  EXPECT_EQ(SaveWithReferences(a.fx, &noScene), IO_ERROR);
  EXPECT_FALSE(noScene.Error().empty());

  // A node outside the scene.
  INode loose("Loose", nullptr);
  a.Set(pb_hsdirectionobject, &loose);
  MemorySave save3;
  save3.SetInterface(&a.ip);
  EXPECT_EQ(SaveWithReferences(a.fx, &save3), IO_ERROR);
  EXPECT_NE(save3.Error().find("'Loose'"), std::string::npos) << save3.Error();
  a.Set(pb_hsdirectionobject, static_cast<INode*>(nullptr));
}

TEST_F(EffectPersistence, ANodeTheLoadingSceneLacksIsAnError) {
  const MemorySave save = SaveA();
  RenderScene bare;  // has the camera, lacks "Origin"
  IParamBlock2* block = bare.fx->pblock;
  MemoryLoad load(save.Bytes());
  load.SetInterface(&bare.ip);
  EXPECT_EQ(LoadWithReferences(bare.fx, GetQe_VelumbraDesc(), &load), IO_ERROR);
  EXPECT_NE(load.Error().find("'Origin'"), std::string::npos) << load.Error();
  EXPECT_NE(load.Error().find("'objectorigin'"), std::string::npos) << load.Error();
  EXPECT_EQ(bare.fx->pblock, block);
  EXPECT_EQ(bare.GetNode(pb_camera), nullptr);
}

// --- the block's own chunks, written by hand --------------------------------

// Little-endian bytes for hand-made chunks.
struct Le {
  std::vector<std::uint8_t> bytes;
  Le& I16(int v) { return Put(static_cast<std::uint32_t>(v), 2); }
  Le& I32(std::int32_t v) { return Put(static_cast<std::uint32_t>(v), 4); }
  Le& F32(float f) {
    std::uint32_t bits;
    std::memcpy(&bits, &f, 4);
    return Put(bits, 4);
  }
  Le& Put(std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return *this;
  }
};

void Chunk(MemorySave& s, USHORT id, const Le& payload) {
  s.BeginChunk(id);
  s.Write(payload.bytes.data(), static_cast<ULONG>(payload.bytes.size()), nullptr);
  s.EndChunk();
}

struct BlockLoad {
  IOResult Load(const MemorySave& s) {
    MemoryLoad load(s.Bytes());
    const IOResult r = block.Load(&load);
    error = load.Error();
    return r;
  }
  IParamBlock2 block{&qe_velumbra_param_blk};
  std::string error;
};

TEST(BlockPersistence, ReadsTheDocumentedLayout) {
  // The layout is a file format: a stream written by hand loads.
  MemorySave s;
  Chunk(s, IParamBlock2::kHeaderChunk, Le().I16(0).I32(2));
  Chunk(s, IParamBlock2::kParamChunk, Le().I16(pb_seed).I32(TYPE_INT).I32(777).I32(0));
  Chunk(s, IParamBlock2::kParamChunk,
        Le().I16(pb_velumbralimit).I32(TYPE_FLOAT).F32(0.5f).I32(2).I32(0).F32(0.25f).I32(4800).F32(0.75f));
  Chunk(s, 0x7777, Le().I32(1));  // a chunk of a later revision: skipped
  Chunk(s, IParamBlock2::kParamChunk, Le().I16(999).I32(TYPE_FLOAT).F32(1.0f).I32(0));  // unknown parameter
  BlockLoad b;
  ASSERT_EQ(b.Load(s), IO_OK) << b.error;
  EXPECT_EQ(IntValue(&b.block, pb_seed), 777);
  EXPECT_EQ(b.block.NumKeys(pb_velumbralimit), 2);
  float v = 0;
  Interval valid = FOREVER;
  ASSERT_TRUE(b.block.GetValue(pb_velumbralimit, 2400, v, valid));
  EXPECT_EQ(v, 0.5f);
  EXPECT_EQ(IntValue(&b.block, pb_starscount), 10000) << "absent parameters keep their values";
}

TEST(BlockPersistence, RefusesBadStreamsAndKeepsItsValues) {
  struct Case {
    const char* what;
    std::vector<std::pair<USHORT, Le>> chunks;
    const char* message;
  };
  const Le seed = Le().I16(pb_seed).I32(TYPE_INT).I32(5).I32(0);
  const Case cases[] = {
      {"no header", {{IParamBlock2::kParamChunk, seed}}, "before the block header"},
      {"empty stream", {}, "no block header"},
      {"another block", {{IParamBlock2::kHeaderChunk, Le().I16(1).I32(0)}}, "saved as block 1"},
      {"short header", {{IParamBlock2::kHeaderChunk, Le().I16(0)}}, "header is cut short"},
      {"another type",
       {{IParamBlock2::kHeaderChunk, Le().I16(0).I32(1)},
        {IParamBlock2::kParamChunk, Le().I16(pb_seed).I32(TYPE_FLOAT).F32(5).I32(0)}},
       "'seed': saved with type 0"},
      {"keys out of order",
       {{IParamBlock2::kHeaderChunk, Le().I16(0).I32(1)},
        {IParamBlock2::kParamChunk, Le().I16(pb_seed).I32(TYPE_INT).I32(5).I32(2).I32(10).I32(1).I32(10).I32(2)}},
       "out of order"},
      {"keys on a node",
       {{IParamBlock2::kHeaderChunk, Le().I16(0).I32(1)},
        {IParamBlock2::kParamChunk, Le().I16(pb_camera).I32(TYPE_INODE).Put(0, 1).I32(1).I32(0).Put(0, 1)}},
       "cannot be animated"},
      {"a huge key count",
       {{IParamBlock2::kHeaderChunk, Le().I16(0).I32(1)},
        {IParamBlock2::kParamChunk, Le().I16(pb_seed).I32(TYPE_INT).I32(5).I32(0x7FFFFFFF).I32(0).I32(1)}},
       "cut short"},
      {"a negative key count",
       {{IParamBlock2::kHeaderChunk, Le().I16(0).I32(1)},
        {IParamBlock2::kParamChunk, Le().I16(pb_seed).I32(TYPE_INT).I32(5).I32(-1)}},
       "key count"},
      {"a bad node marker",
       {{IParamBlock2::kHeaderChunk, Le().I16(0).I32(1)},
        {IParamBlock2::kParamChunk, Le().I16(pb_camera).I32(TYPE_INODE).Put(7, 1).I32(0)}},
       "malformed node"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    MemorySave s;
    for (const auto& [id, payload] : c.chunks) Chunk(s, id, payload);
    BlockLoad b;
    EXPECT_EQ(b.Load(s), IO_ERROR);
    EXPECT_NE(b.error.find(c.message), std::string::npos) << b.error;
    EXPECT_EQ(IntValue(&b.block, pb_seed), 12345);
    EXPECT_EQ(b.block.NumKeys(pb_seed), 0);
  }
}

TEST(BlockPersistence, ARefusedLoadUndoesEarlierParameters) {
  MemorySave s;
  Chunk(s, IParamBlock2::kHeaderChunk, Le().I16(0).I32(2));
  Chunk(s, IParamBlock2::kParamChunk, Le().I16(pb_seed).I32(TYPE_INT).I32(5).I32(0));
  Chunk(s, IParamBlock2::kParamChunk, Le().I16(pb_starscount).I32(TYPE_FLOAT).F32(5).I32(0));
  BlockLoad b;
  EXPECT_EQ(b.Load(s), IO_ERROR);
  EXPECT_EQ(IntValue(&b.block, pb_seed), 12345) << "the seed read before the fault is not kept";
}

}  // namespace
