#include <gtest/gtest.h>

#include "plugin/host.h"

namespace {

TEST(ChunkStreams, NestedChunksRoundTrip) {
  MemorySave save;
  save.BeginChunk(0x10);
  save.BeginChunk(0x11);
  const int value = 0x12345678;
  ULONG n = 0;
  ASSERT_EQ(save.Write(&value, sizeof value, &n), IO_OK);
  EXPECT_EQ(n, sizeof value);
  save.EndChunk();
  save.BeginChunk(0x12);
  ASSERT_EQ(save.WriteCString("hello"), IO_OK);
  save.EndChunk();
  save.EndChunk();
  save.BeginChunk(0x20);
  save.EndChunk();
  ASSERT_EQ(save.Status(), IO_OK);

  MemoryLoad load(save.Bytes());
  ASSERT_EQ(load.OpenChunk(), IO_OK);
  EXPECT_EQ(load.CurChunkID(), 0x10);
  ASSERT_EQ(load.OpenChunk(), IO_OK);
  EXPECT_EQ(load.CurChunkID(), 0x11);
  int back = 0;
  ASSERT_EQ(load.Read(&back, sizeof back, &n), IO_OK);
  EXPECT_EQ(back, value);
  EXPECT_EQ(load.Read(&back, 1, &n), IO_ERROR) << "nothing left in the chunk";
  ASSERT_EQ(load.CloseChunk(), IO_OK);
  ASSERT_EQ(load.OpenChunk(), IO_OK);
  std::string s;
  ASSERT_EQ(load.ReadCString(s), IO_OK);
  EXPECT_EQ(s, "hello");
  ASSERT_EQ(load.CloseChunk(), IO_OK);
  EXPECT_EQ(load.OpenChunk(), IO_END);
  ASSERT_EQ(load.CloseChunk(), IO_OK);
  ASSERT_EQ(load.OpenChunk(), IO_OK);
  EXPECT_EQ(load.CurChunkID(), 0x20);
  ASSERT_EQ(load.CloseChunk(), IO_OK);
  EXPECT_EQ(load.OpenChunk(), IO_END);
}

TEST(ChunkStreams, MalformedInputIsAnErrorNotACrash) {
  MemorySave save;
  save.BeginChunk(1);
  save.WriteCString("abcdef");
  save.EndChunk();
  std::vector<std::uint8_t> bytes = save.Bytes();
  for (std::size_t cut = 1; cut < bytes.size(); ++cut) {
    MemoryLoad load(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + cut));
    EXPECT_EQ(load.OpenChunk(), IO_ERROR) << "cut at " << cut;
  }
  // A string without terminator inside its chunk.
  ASSERT_FALSE(bytes.empty());
  bytes.back() = 'x';
  MemoryLoad load(bytes);
  ASSERT_EQ(load.OpenChunk(), IO_OK);
  std::string s;
  EXPECT_EQ(load.ReadCString(s), IO_ERROR);
}

TEST(ChunkStreams, UnbalancedOrOutsideWritesFail) {
  MemorySave outside;
  int v = 1;
  EXPECT_EQ(outside.Write(&v, sizeof v, nullptr), IO_ERROR);
  EXPECT_EQ(outside.Status(), IO_ERROR);
  MemorySave open;
  open.BeginChunk(1);
  EXPECT_EQ(open.Status(), IO_ERROR) << "a chunk left open";
  MemorySave extra;
  extra.EndChunk();
  EXPECT_EQ(extra.Status(), IO_ERROR);
}

TEST(SpecialFX, NameSurvivesSaveAndLoad) {
  struct Fx : Effect {
    void Apply(TimeValue, Bitmap*, RenderGlobalContext*, CheckAbortCallback*) override {}
    RefResult NotifyRefChanged(Interval, RefTargetHandle, PartID&, RefMessage) override { return REF_SUCCEED; }
  };
  Fx a;
  a.name = "Stars of the north";
  MemorySave save;
  ASSERT_EQ(a.Save(&save), IO_OK);
  MemoryLoad load(save.Bytes());
  Fx b;
  ASSERT_EQ(b.Load(&load), IO_OK);
  EXPECT_EQ(b.name, a.name);
  EXPECT_EQ(b.SuperClassID(), RENDER_EFFECT_CLASS_ID);
}

}  // namespace
