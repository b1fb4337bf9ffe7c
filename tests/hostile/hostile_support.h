// Helpers of the hostile-input tests: errors expected with a given text,
// and a thread with a small stack, on which code that recursed with the
// depth of its input would overflow.
#pragma once

#include <gtest/gtest.h>
#include <pthread.h>

#include <cstdlib>
#include <exception>
#include <functional>
#include <optional>
#include <string>

#include "host/app/base/app_error.h"

// Runs `body`, expecting an InputError whose message contains every one of
// `fragments`.
template <class Body>
void ExpectInputError(Body&& body, std::initializer_list<std::string> fragments) {
  try {
    body();
    ADD_FAILURE() << "no error; expected one containing \"" << *fragments.begin() << "\"";
  } catch (const velumbra::InputError& e) {
    const std::string what = e.what();
    for (const std::string& f : fragments) EXPECT_NE(what.find(f), std::string::npos) << "\"" << f << "\" not in: " << what;
  }
}

// Runs `fn` on a thread whose stack is `bytes` large and waits for it;
// an exception it throws is rethrown here.
inline void RunOnSmallStack(std::size_t bytes, const std::function<void()>& fn) {
  struct Job {
    const std::function<void()>* fn;
    std::exception_ptr error;
  } job{&fn, nullptr};
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setstacksize(&attr, bytes);
  pthread_t thread;
  const int rc = pthread_create(
      &thread, &attr,
      [](void* p) -> void* {
        auto* j = static_cast<Job*>(p);
        try {
          (*j->fn)();
        } catch (...) {
          j->error = std::current_exception();
        }
        return nullptr;
      },
      &job);
  pthread_attr_destroy(&attr);
  if (rc != 0) std::abort();
  pthread_join(thread, nullptr);
  if (job.error) std::rethrow_exception(job.error);
}

// Sets an environment variable for the lifetime of the object (unset:
// nullopt), restoring the previous state after.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) saved_ = old;
    if (value) ::setenv(name, value->c_str(), 1);
    else ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (saved_) ::setenv(name_, saved_->c_str(), 1);
    else ::unsetenv(name_);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> saved_;
};
