#pragma once
// Shared pieces of the application tests: a main that runs the test object
// under the program's own application class, and small helpers.

#include "ModalScript.h"
#include "PtyPair.h"
#include "TestSettings.h"
#include "app/Application.h"
#include "serial/DeviceMap.h"
#include "widgets/FormLayout.h"

#include <QApplication>
#include <QTest>
#include <cstdint>
#include <memory>
#include <vector>

#define QUORLINK_APP_TEST_MAIN(TestObject)  \
  int main(int argc, char** argv) {         \
    TApplication app(argc, argv);           \
    FormLayout::SetScale(1.0);              \
    TestObject test;                        \
    return QTest::qExec(&test, argc, argv); \
  }

// A Quorlink frame: 0x2F, the data bytes, and the byte that makes the sum 0.
inline std::vector<std::uint8_t> QuorlinkFrame(const std::vector<std::uint8_t>& data) {
  std::vector<std::uint8_t> frame;
  frame.reserve(data.size() + 2);
  frame.push_back(0x2F);
  std::uint8_t sum = 0x2F;
  for (std::uint8_t b : data) {
    frame.push_back(b);
    sum = static_cast<std::uint8_t>(sum + b);
  }
  frame.push_back(static_cast<std::uint8_t>(0u - sum));
  return frame;
}

// The top-level widgets of class T that exist now.
template <class T>
QList<T*> TopLevels() {
  QList<T*> found;
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* t = qobject_cast<T*>(w)) found.append(t);
  return found;
}

// Settings in a temporary folder and COM1 mapped to a fresh pseudo-terminal,
// for one test function: Up() from init(), Down() from cleanup().
struct PtyAppFixture {
  std::unique_ptr<TestSettings> Settings;
  std::unique_ptr<PtyPair> Pty;

  bool Up() {
    Settings = std::make_unique<TestSettings>();
    Pty = std::make_unique<PtyPair>();
    return SetComDevicePath(1, Pty->SlavePath());
  }
  void Down() {
    Pty.reset();
    Settings.reset();
  }
};

// Waits until every step of the script has run and fails on any window that
// no step expected.
#define QUORLINK_FINISH_SCRIPT(script)                                                   \
  do {                                                                                   \
    QVERIFY(WaitUntil([&] { return (script).Done(); }));                                 \
    QVERIFY2((script).Unexpected.isEmpty(), qPrintable((script).Unexpected.join("; "))); \
  } while (false)
