// The built module Qe_Velumbra.dlv, loaded the way the host loads it, and
// the loader's handling of modules that break its rules.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

#include "support/temp_dir.h"
#include "host/app/module_loader.h"
#include "host/sdk/reference_io.h"
#include "plugin/class_desc.h"
#include "plugin/host.h"
#include "support/stub_class_desc.h"

namespace {

namespace fs = std::filesystem;
using velumbra::ModuleRegistry;

fs::path BuildDir() {
  const char* dir = std::getenv("VELUMBRA_BUILD_DIR");
  return dir ? fs::path(dir) : velumbra::ExecutableDir();
}

fs::path ModulePath() { return BuildDir() / "Qe_Velumbra.dlv"; }

fs::path FakeModule(const std::string& name) { return fs::path(VELUMBRA_FAKE_MODULES_DIR) / (name + ".dlv"); }

// The module's exports called directly, through a second handle on the
// module the registry loaded (the platform counts the two).
class Exports {
 public:
  explicit Exports(const fs::path& file) : handle_(dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD)) {}
  ~Exports() {
    if (handle_) dlclose(handle_);
  }
  bool ok() const { return handle_ != nullptr; }
  template <typename F>
  F Get(const char* name) const {
    return reinterpret_cast<F>(dlsym(handle_, name));
  }
  HINSTANCE Instance() const {
    return InstanceHandleOf(static_cast<const ModuleResources*>(dlsym(handle_, "HostModuleResources")));
  }

 private:
  void* handle_;
};

// The same test as one string: whether any error mentions both.
bool HasError(const ModuleRegistry& r, const std::string& file, const std::string& what) {
  for (const std::string& e : r.Errors())
    if (e.find(file) != std::string::npos && e.find(what) != std::string::npos) return true;
  return false;
}

std::string AllErrors(const ModuleRegistry& r) {
  std::string s;
  for (const std::string& e : r.Errors()) s += e + "\n";
  return s;
}

bool IsLoaded(const fs::path& file) {
  void* h = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
  if (h) dlclose(h);
  return h != nullptr;
}

TEST(ModuleLoader, ListsTheBuiltModuleAndItsClass) {
  ModuleRegistry registry;
  ASSERT_TRUE(registry.LoadModule(ModulePath())) << AllErrors(registry);
  EXPECT_TRUE(registry.Errors().empty());
  ASSERT_EQ(registry.Modules().size(), 1u);
  const velumbra::PluginModule& m = registry.Modules()[0];
  EXPECT_EQ(m.path, ModulePath());
  EXPECT_EQ(m.description.rfind("Advanced Star Field Generator (", 0), 0u) << m.description;
  EXPECT_EQ(m.version, 0x23281500u);
  ASSERT_EQ(m.classes.size(), 1u);
  ClassDesc* cd = m.classes[0];
  EXPECT_STREQ(cd->ClassName(), "Qe_Velumbra");
  EXPECT_STREQ(cd->Category(), "Render Effect");
  EXPECT_STREQ(cd->InternalName(), "Qe_Velumbra");
  EXPECT_EQ(cd->SuperClassID(), 0x1090u);
  EXPECT_EQ(cd->ClassID(), Class_ID(0x06C94719, 0x211345D7));
  EXPECT_EQ(cd->IsPublic(), 1);
  EXPECT_EQ(registry.FindClass("Qe_Velumbra"), cd);
  EXPECT_EQ(registry.FindClass("Qe_velumbra"), nullptr);
  EXPECT_EQ(registry.FindClass(""), nullptr);
  // The module keeps its own copy of the effect: the descriptor is not the
  // one this test program carries in its static library.
  EXPECT_NE(cd, static_cast<ClassDesc*>(GetQe_VelumbraDesc()));
}

TEST(ModuleLoader, ExportsAnswerAsTheHostExpects) {
  ModuleRegistry registry;
  ASSERT_TRUE(registry.LoadModule(ModulePath())) << AllErrors(registry);
  Exports lib(ModulePath());
  ASSERT_TRUE(lib.ok());
  auto classDesc = lib.Get<ClassDesc* (*)(int)>("LibClassDesc");
  auto numberClasses = lib.Get<int (*)()>("LibNumberClasses");
  ASSERT_NE(classDesc, nullptr);
  ASSERT_NE(numberClasses, nullptr);
  EXPECT_EQ(numberClasses(), 1);
  ClassDesc* first = classDesc(0);
  EXPECT_EQ(first, registry.Modules()[0].classes[0]);
  EXPECT_EQ(classDesc(0), first) << "the same descriptor on every call";
  for (int i : {1, -1, 2, INT_MAX, INT_MIN}) EXPECT_EQ(classDesc(i), nullptr) << i;
  // Nothing but the host's names is exported.
  for (const char* hidden : {"GetString", "hInstance", "controlsInit", "_Z17GetQe_VelumbraDescv", "_Z9GetStringi"})
    EXPECT_EQ(lib.Get<void*>(hidden), nullptr) << hidden;
}

TEST(ModuleLoader, EntryRoutineRecordsTheHandleEveryTimeAndInitialisesControlsOnce) {
  const int commonBefore = CommonControlsInitCount();
  ModuleRegistry registry;
  ASSERT_TRUE(registry.LoadModule(ModulePath())) << AllErrors(registry);
  Exports lib(ModulePath());
  const HINSTANCE instance = lib.Instance();
  ASSERT_NE(instance, nullptr);
  ClassDesc* cd = registry.Modules()[0].classes[0];
  EXPECT_EQ(cd->HInstance(), instance);
  EXPECT_EQ(CustomControlsInitCount(instance), 1);
  EXPECT_EQ(CommonControlsInitCount(), commonBefore + 1);

  auto entry = lib.Get<BOOL (*)(HINSTANCE, ULONG, LPVOID)>("DllMain");
  ASSERT_NE(entry, nullptr);
  // A thread attach with another handle: recorded, controls left alone.
  EXPECT_EQ(entry(nullptr, DLL_THREAD_ATTACH, nullptr), TRUE);
  EXPECT_EQ(cd->HInstance(), nullptr);
  EXPECT_EQ(cd->ClassName(), nullptr) << "no handle, no string table";
  EXPECT_EQ(entry(instance, DLL_THREAD_ATTACH, nullptr), TRUE);
  EXPECT_EQ(cd->HInstance(), instance);
  EXPECT_STREQ(cd->ClassName(), "Qe_Velumbra");
  EXPECT_EQ(CustomControlsInitCount(instance), 1);
  EXPECT_EQ(CommonControlsInitCount(), commonBefore + 1);
}

TEST(ModuleLoader, EveryCustomControlOfTheDialogsIsRegistered) {
  ModuleRegistry registry;
  ASSERT_TRUE(registry.LoadModule(ModulePath())) << AllErrors(registry);
  Exports lib(ModulePath());
  const ModuleResources* res = ModuleResourcesOf(lib.Instance());
  ASSERT_NE(res, nullptr);
  ASSERT_GT(res->dialogCount, 0u);
  const std::string system[] = {"BUTTON", "STATIC", "EDIT", "COMBOBOX", "LISTBOX", "SCROLLBAR"};
  int custom = 0;
  for (std::size_t d = 0; d < res->dialogCount; ++d) {
    const DialogTemplate& dlg = res->dialogs[d];
    for (std::size_t c = 0; c < dlg.controlCount; ++c) {
      const std::string cls = dlg.controls[c].className;
      if (std::find(std::begin(system), std::end(system), cls) != std::end(system)) continue;
      ++custom;
      EXPECT_TRUE(IsCustomControlClassRegistered(lib.Instance(), cls) || IsCommonControlClassRegistered(cls))
          << "dialog " << dlg.id << " control " << dlg.controls[c].id << " of class " << cls;
    }
  }
  EXPECT_GT(custom, 0);
}

TEST(ModuleLoader, StaticObjectsAreBuiltInOrderAndDestroyedInReverse) {
  const int orphansBefore = ClassDesc2::OrphanedParamBlockDescs();
  HINSTANCE instance = nullptr;
  {
    ModuleRegistry registry;
    ASSERT_TRUE(registry.LoadModule(ModulePath())) << AllErrors(registry);
    auto* cd = dynamic_cast<ClassDesc2*>(registry.Modules()[0].classes[0]);
    ASSERT_NE(cd, nullptr);
    // The block descriptor found its class descriptor already built.
    ASSERT_EQ(cd->NumParamBlockDescs(), 1);
    ParamBlockDesc2* pbd = cd->GetParamBlockDesc(0);
    EXPECT_EQ(pbd->ClassDescriptor(), cd);
    EXPECT_EQ(pbd->InternalName(), "Qe_VelumbraParameters");
    EXPECT_TRUE(cd->IsValid()) << cd->ErrorMessage();
    EXPECT_TRUE(IsLoaded(ModulePath()));
    instance = cd->HInstance();
    EXPECT_EQ(CustomControlsInitCount(instance), 1);
  }
  // Closed for good, the block descriptor gone before its class descriptor.
  EXPECT_FALSE(IsLoaded(ModulePath()));
  EXPECT_EQ(CustomControlsInitCount(instance), 0) << "the host forgot the closed module's controls";
  EXPECT_EQ(ClassDesc2::OrphanedParamBlockDescs(), orphansBefore);
}

TEST(ModuleLoader, OrphanCountSeesTheWrongUnloadOrder) {
  // The check above can fail: a class descriptor that dies before its block
  // descriptor is counted.
  const int before = ClassDesc2::OrphanedParamBlockDescs();
  auto* cd = new StubClassDesc("Order");
  auto* pbd = new ParamBlockDesc2(0, "OrderParameters", 0, cd, 0, p_end);
  delete cd;
  EXPECT_EQ(pbd->ClassDescriptor(), nullptr);
  delete pbd;
  EXPECT_EQ(ClassDesc2::OrphanedParamBlockDescs(), before + 1);
}

TEST(ModuleLoader, EffectsComeFromTheLoadedClass) {
  ModuleRegistry registry;
  ASSERT_TRUE(registry.LoadModule(ModulePath())) << AllErrors(registry);
  auto* cd = dynamic_cast<ClassDesc2*>(registry.FindClass("Qe_Velumbra"));
  ASSERT_NE(cd, nullptr);
  auto* fx = static_cast<Effect*>(cd->Create(FALSE));
  ASSERT_NE(fx, nullptr);
  EXPECT_EQ(fx->ClassID(), cd->ClassID());
  EXPECT_EQ(fx->SuperClassID(), RENDER_EFFECT_CLASS_ID);
  EXPECT_EQ(fx->GetName(), "Qe_Velumbra");
  EXPECT_EQ(fx->GBufferChannelsRequired(0), 6u);
  ASSERT_EQ(fx->NumRefs(), 1);
  IParamBlock2* pb = fx->GetParamBlockByID(0);
  ASSERT_NE(pb, nullptr);
  EXPECT_EQ(fx->GetReference(0), pb);
  EXPECT_EQ(fx->GetReference(3), pb);
  EXPECT_EQ(fx->GetParamBlockByID(1), nullptr);
  EXPECT_EQ(pb->GetDesc(), cd->GetParamBlockDesc(0));
  // A few defaults of the block, as the user first sees them.
  Interval valid = FOREVER;
  int count = 0, seed = 0, subdivisions = 0;
  float limit = 0, frequency = 0;
  Color bright;
  INode* camera = reinterpret_cast<INode*>(1);
  ASSERT_TRUE(pb->GetValue(pb->GetDesc()->IndexToID(pb->FindParamByName("starscount")), 0, count, valid));
  ASSERT_TRUE(pb->GetValue(pb->GetDesc()->IndexToID(pb->FindParamByName("seed")), 0, seed, valid));
  ASSERT_TRUE(pb->GetValue(pb->GetDesc()->IndexToID(pb->FindParamByName("durationsubdivisions")), 0,
                           subdivisions, valid));
  ASSERT_TRUE(pb->GetValue(pb->GetDesc()->IndexToID(pb->FindParamByName("velumbralimit")), 0, limit, valid));
  ASSERT_TRUE(pb->GetValue(pb->GetDesc()->IndexToID(pb->FindParamByName("scintillationfrequency")), 0,
                           frequency, valid));
  ASSERT_TRUE(pb->GetValue(pb->GetDesc()->IndexToID(pb->FindParamByName("brightstarscolor")), 0, bright, valid));
  ASSERT_TRUE(pb->GetValue(pb->GetDesc()->IndexToID(pb->FindParamByName("camera")), 0, camera, valid));
  EXPECT_EQ(count, 10000);
  EXPECT_EQ(seed, 12345);
  EXPECT_EQ(limit, 1.0f);
  EXPECT_EQ(camera, nullptr);
  EXPECT_GE(subdivisions, 1);
  EXPECT_GT(frequency, 0.0f);
  EXPECT_EQ(bright, Color(1, 1, 1));

  // Cloned, saved and loaded by the host across the module boundary.
  RemapDir remap;
  auto* copy = static_cast<Effect*>(remap.CloneRef(fx));
  ASSERT_NE(copy, nullptr);
  ASSERT_NE(copy->GetReference(0), pb);
  const ParamID countId = pb->IndexToID(pb->FindParamByName("starscount"));
  ASSERT_TRUE(pb->SetValue(countId, 0, 77));
  fx->name = "Nebula";
  MemorySave save;
  ASSERT_EQ(SaveWithReferences(fx, &save), IO_OK) << save.Error();
  MemoryLoad load(save.Bytes());
  ASSERT_EQ(LoadWithReferences(copy, cd, &load), IO_OK) << load.Error();
  EXPECT_EQ(copy->name, "Nebula");
  Interval v2 = FOREVER;
  ASSERT_TRUE(copy->GetParamBlock(0)->GetValue(countId, 0, count, v2));
  EXPECT_EQ(count, 77);
  copy->DeleteMe();
  fx->DeleteMe();
}

TEST(ModuleLoader, BrokenModulesAreReportedAndSkipped) {
  TempDir dir;
  // Copies, so that the name order is known: the sound modules come last.
  const std::pair<std::string, fs::path> files[] = {
      {"a_wrong_version.dlv", FakeModule("wrong_version")},
      {"b_no_classdesc.dlv", FakeModule("no_classdesc")},
      {"c_refusing.dlv", FakeModule("refusing")},
      {"d_bad_block.dlv", FakeModule("bad_block")},
      {"e_null_class.dlv", FakeModule("null_class")},
      {"x_good.dlv", FakeModule("good")},
      {"y_Qe_Velumbra.dlv", ModulePath()},
  };
  for (const auto& [name, from] : files) fs::copy_file(from, dir / name);
  WriteAll(dir / "f_garbage.dlv", "this is not a module\n");
  WriteAll(dir / "g_empty.dlv", "");
  WriteAll(dir / "readme.txt", "not a module either, and not looked at");
  fs::create_directory(dir / "h_folder.dlv");

  ModuleRegistry registry;
  registry.LoadDirectory(dir.Path());
  const std::string all = AllErrors(registry);
  EXPECT_EQ(registry.Errors().size(), 7u) << all;
  EXPECT_TRUE(HasError(registry, "a_wrong_version.dlv", "0x1F401500")) << all;
  EXPECT_TRUE(HasError(registry, "b_no_classdesc.dlv", "LibClassDesc")) << all;
  EXPECT_TRUE(HasError(registry, "c_refusing.dlv", "entry routine")) << all;
  EXPECT_TRUE(HasError(registry, "d_bad_block.dlv", "Fake Class")) << all;
  EXPECT_TRUE(HasError(registry, "e_null_class.dlv", "LibClassDesc(0)")) << all;
  EXPECT_TRUE(HasError(registry, "f_garbage.dlv", "cannot load")) << all;
  EXPECT_TRUE(HasError(registry, "g_empty.dlv", "cannot load")) << all;
  // Every message starts with the file.
  for (const std::string& e : registry.Errors()) EXPECT_EQ(e.rfind(dir.Path().string() + "/", 0), 0u) << e;

  ASSERT_EQ(registry.Modules().size(), 2u) << all;
  EXPECT_EQ(registry.Modules()[0].path.filename(), "x_good.dlv");
  EXPECT_EQ(registry.Modules()[1].path.filename(), "y_Qe_Velumbra.dlv");
  EXPECT_NE(registry.FindClass("Fake Class"), nullptr);
  EXPECT_NE(registry.FindClass("Qe_Velumbra"), nullptr);
  // The refused modules are closed again.
  for (const char* refused : {"a_wrong_version.dlv", "c_refusing.dlv", "d_bad_block.dlv"})
    EXPECT_FALSE(IsLoaded(dir / refused)) << refused;
}

TEST(ModuleLoader, TwoCopiesOfAModuleKeepTheirOwnState) {
  // Two files of the same module are two modules: each with its own handle,
  // string buffer and descriptor; the first loaded answers FindClass.
  TempDir dir;
  fs::copy_file(ModulePath(), dir / "a.dlv");
  fs::copy_file(ModulePath(), dir / "b.dlv");
  ModuleRegistry registry;
  registry.LoadDirectory(dir.Path());
  ASSERT_TRUE(registry.Errors().empty()) << AllErrors(registry);
  ASSERT_EQ(registry.Modules().size(), 2u);
  ClassDesc* a = registry.Modules()[0].classes[0];
  ClassDesc* b = registry.Modules()[1].classes[0];
  ASSERT_NE(a, b);
  EXPECT_NE(a->HInstance(), b->HInstance());
  EXPECT_EQ(registry.FindClass("Qe_Velumbra"), a);
  const MCHAR* nameA = a->ClassName();
  const MCHAR* categoryB = b->Category();
  EXPECT_STREQ(nameA, "Qe_Velumbra") << "b's lookup does not overwrite a's buffer";
  EXPECT_STREQ(categoryB, "Render Effect");
}

TEST(ModuleLoader, MissingFolderAndFilesAreErrorsNamingThem) {
  TempDir dir;
  ModuleRegistry registry;
  registry.LoadDirectory(dir / "nowhere");
  ASSERT_EQ(registry.Errors().size(), 1u);
  EXPECT_EQ(registry.Errors()[0], (dir / "nowhere").string() + ": no such folder");
  WriteAll(dir / "plain", "x");
  registry.LoadDirectory(dir / "plain");
  ASSERT_EQ(registry.Errors().size(), 2u);
  EXPECT_EQ(registry.Errors()[1], (dir / "plain").string() + ": not a folder");
  EXPECT_FALSE(registry.LoadModule(dir / "missing.dlv"));
  ASSERT_EQ(registry.Errors().size(), 3u);
  EXPECT_EQ(registry.Errors()[2].rfind((dir / "missing.dlv").string() + ": cannot load the module: ", 0), 0u)
      << registry.Errors()[2];
  // An empty folder is no error: nothing to load.
  registry.LoadDirectory(dir.Path());
  EXPECT_EQ(registry.Errors().size(), 3u);
  EXPECT_TRUE(registry.Modules().empty());
}

TEST(ModuleLoader, AModuleIsLoadedOnce) {
  TempDir dir;
  fs::create_symlink(ModulePath(), dir / "link.dlv");
  ModuleRegistry registry;
  ASSERT_TRUE(registry.LoadModule(ModulePath())) << AllErrors(registry);
  EXPECT_FALSE(registry.LoadModule(ModulePath()));
  EXPECT_FALSE(registry.LoadModule(dir / "link.dlv"));
  EXPECT_EQ(registry.Modules().size(), 1u);
  ASSERT_EQ(registry.Errors().size(), 2u);
  EXPECT_TRUE(HasError(registry, "link.dlv", "already loaded"));
  // The refusals did not detach the module that stays loaded.
  Exports lib(ModulePath());
  EXPECT_EQ(CustomControlsInitCount(lib.Instance()), 1);
  EXPECT_STREQ(registry.Modules()[0].classes[0]->ClassName(), "Qe_Velumbra");
}

TEST(ModuleLoader, ExecutableDirIsThisProgramsFolder) {
  const fs::path dir = velumbra::ExecutableDir();
  ASSERT_FALSE(dir.empty());
  EXPECT_TRUE(fs::equivalent(dir, fs::path(program_invocation_name).parent_path().empty()
                                      ? fs::current_path()
                                      : fs::absolute(fs::path(program_invocation_name)).parent_path()));
  // The build puts the test programs and the module side by side.
  EXPECT_TRUE(fs::exists(dir / "Qe_Velumbra.dlv"));
}

}  // namespace
