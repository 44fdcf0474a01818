#pragma once
// The settings store as the port and the link see it: a tree of keys holding
// 32-bit integer values, opened one key at a time through a short-lived accessor.

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

// Raised when a stored value cannot be read as a 32-bit integer. The text names
// the key, the value name and what was stored.
class ERegistryException : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class TRegistry {
public:
  virtual ~TRegistry() = default;

  // Key paths use backslashes as separators, e.g.
  // "\\Software\\Parvelco\\Quorlink Simulator\\Display Mode\\Port Configuration".
  // Without canCreate a key that does not exist fails to open.
  virtual bool OpenKey(const std::string& key, bool canCreate) = 0;
  virtual bool ValueExists(const std::string& name) = 0;
  // Throws ERegistryException when the stored value is not a 32-bit integer.
  virtual std::int32_t ReadInteger(const std::string& name) = 0;
  virtual void WriteInteger(const std::string& name, std::int32_t value) = 0;
  virtual void CloseKey() = 0;
  // Makes what was written so far permanent; false when the store could not be
  // written (a read-only or unwritable settings file, for example).
  virtual bool Flush() { return true; }
};

// Every load and save creates its accessor through this factory. The default
// one is the per-user settings file; tests and other front ends may replace it
// (nullptr restores the default).
using TRegistryFactory = std::unique_ptr<TRegistry> (*)();
void SetRegistryFactory(TRegistryFactory factory);
std::unique_ptr<TRegistry> CreateRegistry();
