#include "app/Application.h"
#include "app/Program.h"

#include <exception>

int main(int argc, char** argv) {
  TApplication app(argc, argv);
  try {
    return RunProgram();
  } catch (const std::exception& e) {
    ShowError(e.what());
  } catch (...) {
    ShowError(nullptr);
  }
  return 0;
}
