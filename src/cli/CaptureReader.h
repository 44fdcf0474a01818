#pragma once
// Reads capture files as the capture writer writes them: header blocks and
// record lines "HH:MM:SS:mmm status      length   >xx xx ... <". Lines that
// are neither are collected as problems with their line numbers, and reading
// goes on with the next line.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

struct CaptureRecord {
  int Line = 0;  // 1-based line number in the file
  int Hours = 0, Minutes = 0, Seconds = 0, Millis = 0;
  int Status = 0;
  int Length = 0;
  std::uint8_t Data[256] = {};

  // Milliseconds since midnight.
  int TimeOfDayMs() const { return ((Hours * 60 + Minutes) * 60 + Seconds) * 1000 + Millis; }
  // "12:34:56.789".
};

struct CaptureProblem {
  int Line = 0;
  QString Reason;
};

struct CaptureContents {
  std::vector<CaptureRecord> Records;
  std::vector<CaptureProblem> Problems;
};

CaptureContents ParseCapture(const QByteArray& text);
// Reads and parses a file; false with error set when it cannot be read.
bool ReadCaptureFile(const QString& path, CaptureContents& contents, QString& error);
