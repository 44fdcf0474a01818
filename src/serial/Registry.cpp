#include "serial/Registry.h"

#include "serial/SettingsRegistry.h"

#include <atomic>

namespace {
std::atomic<TRegistryFactory> registryFactory{nullptr};
}

void SetRegistryFactory(TRegistryFactory factory) { registryFactory.store(factory); }

std::unique_ptr<TRegistry> CreateRegistry() {
  if (const TRegistryFactory factory = registryFactory.load()) return factory();
  return std::make_unique<SettingsRegistry>();
}
