#pragma once
// Shared pieces of the application tests: a main that runs the test object
// under the program's own application class, and small helpers.

#include "app/Application.h"
#include "app/FormLayout.h"

#include <QApplication>
#include <QTest>
#include <cstdint>
#include <vector>

#define QUORLINK_APP_TEST_MAIN(TestObject)          \
  int main(int argc, char** argv) {                 \
    TApplication app(argc, argv);                   \
    FormLayout::SetScale(1.0);                      \
    TestObject test;                                \
    return QTest::qExec(&test, argc, argv);         \
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
