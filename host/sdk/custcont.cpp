#include "custcont.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace {

struct Registration {
  HINSTANCE module;
  int calls;
};

// Modules in the order of their first registration. Modules may load from
// any thread the host chooses; the lock keeps the list whole.
std::mutex& Lock() {
  static std::mutex m;
  return m;
}

std::vector<Registration>& Registrations() {
  static std::vector<Registration> list;
  return list;
}

Registration* Find(HINSTANCE hInst) {
  auto& list = Registrations();
  auto it = std::find_if(list.begin(), list.end(), [&](const Registration& r) { return r.module == hInst; });
  return it == list.end() ? nullptr : &*it;
}

}  // namespace

void InitCustomControls(HINSTANCE hInst) {
  if (!hInst) return;
  std::lock_guard<std::mutex> hold(Lock());
  if (Registration* r = Find(hInst)) {
    ++r->calls;
  } else {
    Registrations().push_back({hInst, 1});
  }
}

bool IsCustomControlClassRegistered(HINSTANCE hInst, std::string_view className) {
  std::lock_guard<std::mutex> hold(Lock());
  if (!Find(hInst)) return false;
  return std::find(std::begin(kCustomControlClasses), std::end(kCustomControlClasses), className) !=
         std::end(kCustomControlClasses);
}

int CustomControlsInitCount(HINSTANCE hInst) {
  std::lock_guard<std::mutex> hold(Lock());
  const Registration* r = Find(hInst);
  return r ? r->calls : 0;
}

void ReleaseCustomControls(HINSTANCE hInst) {
  std::lock_guard<std::mutex> hold(Lock());
  std::erase_if(Registrations(), [&](const Registration& r) { return r.module == hInst; });
}
