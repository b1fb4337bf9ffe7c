// The scene file's JSON document, built from the parser's events, with
// each duplicate key and too deep a nesting reported at its JSON path. Used
// by the scene reader (scene_reader.cpp) only.
#pragma once

#include <cstddef>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/app/scene/scene_check.h"

namespace velumbra {

// The document, built from the parser's events. nlohmann's parser keeps the
// last of two equal keys; a scene file that says a thing twice is a mistake
// to report, not to resolve silently, so the builder tracks where the parser
// is (to name the duplicate's JSON path) and bounds the nesting depth. It
// builds the tree itself, in time linear in the text: the library's
// callback parser rescans a parent's elements at the end of every object
// in it (quadratic in the length of an array of objects), and an ordered
// object's own insertion searches its keys (quadratic in their number);
// keys are known to be new here, so members are appended.
class SceneDocumentBuilder {
 public:
  static constexpr size_t kMaxDepth = 32;

  explicit SceneDocumentBuilder(const scene_check::Reporter& r) : r_(r) {}

  nlohmann::ordered_json& Root() { return root_; }

  // --- nlohmann's SAX interface ---
  bool null() { return Value(nullptr); }
  bool boolean(bool v) { return Value(v); }
  bool number_integer(nlohmann::ordered_json::number_integer_t v) { return Value(v); }
  bool number_unsigned(nlohmann::ordered_json::number_unsigned_t v) { return Value(v); }
  bool number_float(nlohmann::ordered_json::number_float_t v, const std::string&) { return Value(v); }
  bool string(std::string& v) { return Value(v); }
  bool binary(nlohmann::ordered_json::binary_t& v) { return Value(v); }
  bool start_object(std::size_t) { return Open(false); }
  bool start_array(std::size_t) { return Open(true); }
  bool end_object() { return Close(); }
  bool end_array() { return Close(); }
  bool key(std::string& k) {
    Frame& top = stack_.back();
    top.key = k;
    if (!top.seen.insert(k).second) r_.Fail(Path(), "the key is given twice in one object");
    return true;
  }
  template <class Exception>
  bool parse_error(std::size_t, const std::string&, const Exception& e) {
    throw e;
  }

  // The path of the value the parser is reading now, before it is
  // complete (the next element of an array, or the member whose key was
  // read last): where a number that overflows a double stands.
  std::string PendingPath() const {
    std::string path;
    for (size_t i = 0; i < stack_.size(); ++i) {
      const Frame& f = stack_[i];
      const long index = i + 1 == stack_.size() ? f.index + 1 : f.index;
      path = f.array ? scene_check::Join(path, static_cast<size_t>(index)) : scene_check::Join(path, f.key);
    }
    return path;
  }

 private:
  struct Frame {
    nlohmann::ordered_json* value;     // the array or object being filled
    bool array;
    long index;       // arrays: the element being read
    std::string key;  // objects: the member being read
    std::set<std::string> seen;
  };

  // Places a complete value (or an empty container about to be filled) at
  // the parser's position and returns where it now lives.
  template <class T>
  nlohmann::ordered_json* Place(T&& v) {
    if (stack_.empty()) {
      root_ = nlohmann::ordered_json(std::forward<T>(v));
      return &root_;
    }
    Frame& top = stack_.back();
    if (top.array) {
      ++top.index;
      top.value->get_ref<nlohmann::ordered_json::array_t&>().emplace_back(std::forward<T>(v));
      return &top.value->get_ref<nlohmann::ordered_json::array_t&>().back();
    }
    auto& members = top.value->get_ref<nlohmann::ordered_json::object_t&>();
    members.emplace_back(top.key, nlohmann::ordered_json(std::forward<T>(v)));
    return &members.back().second;
  }

  template <class T>
  bool Value(T&& v) {
    Place(std::forward<T>(v));
    return true;
  }

  bool Open(bool array) {
    // Deeper nesting has no meaning in a scene and would only let a
    // hostile file exhaust the stack of the recursive code after parsing.
    if (stack_.size() >= kMaxDepth) {
      if (!stack_.empty() && stack_.back().array) ++stack_.back().index;
      r_.Fail(Path(), "values nested more than " + std::to_string(kMaxDepth) + " levels deep");
    }
    nlohmann::ordered_json* v = Place(array ? nlohmann::ordered_json::array() : nlohmann::ordered_json::object());
    stack_.push_back(Frame{v, array, -1, {}, {}});
    return true;
  }

  bool Close() {
    stack_.pop_back();
    return true;
  }

  std::string Path() const {
    std::string path;
    for (const Frame& f : stack_)
      path = f.array ? scene_check::Join(path, static_cast<size_t>(f.index)) : scene_check::Join(path, f.key);
    return path;
  }

  const scene_check::Reporter& r_;
  nlohmann::ordered_json root_;
  std::vector<Frame> stack_;
};

}  // namespace velumbra
