#include "app/Application.h"
#include "app/Messages.h"
#include "app/Program.h"

#include <exception>

int main(int argc, char** argv) {
  TApplication app(argc, argv);
  try {
    return RunProgram();
  } catch (const std::exception& e) {
    Messages::ShowException(QString::fromLocal8Bit(e.what()));
  } catch (...) {
    Messages::ShowException(QString());
  }
  return 0;
}
