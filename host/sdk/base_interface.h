// Interfaces an object hands out by ID.
//
// What a host needs of a plug-in object beyond its base class's virtual
// functions, the object hands out as an interface: the host asks
// GetInterface(id) and gets a pointer to an abstract class the SDK declares
// and the plug-in implements, or null when the object does not speak it.
// The host then calls it through the virtual table, so that it never links
// the plug-in's code nor copies its constants.
//
// Ownership: the object owns the interfaces it hands out; a pointer stays
// valid as long as the object lives and the host never deletes it.
#pragma once

#include "max_types.h"

// Two 32-bit numbers, chosen at random once by the interface's author and
// never changed; an interface whose contract changes takes a new ID.
class Interface_ID {
 public:
  constexpr Interface_ID() = default;
  constexpr Interface_ID(ULONG a, ULONG b) : a_(a), b_(b) {}
  constexpr ULONG PartA() const { return a_; }
  constexpr ULONG PartB() const { return b_; }
  friend constexpr bool operator==(const Interface_ID&, const Interface_ID&) = default;

 private:
  ULONG a_ = 0;
  ULONG b_ = 0;
};

class BaseInterface {
 public:
  // The ID the interface is asked by.
  virtual Interface_ID GetID() = 0;

 protected:
  // Owned by the object that hands it out, never deleted through this class.
  ~BaseInterface() = default;
};
