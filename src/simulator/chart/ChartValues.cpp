#include "simulator/chart/ChartValues.h"

#include "simulator/TruckDataMap.h"

#include <QDateTime>
#include <QHash>

namespace ChartValues {

namespace {

std::vector<Value> Build() {
  using namespace TruckDataMap;
  std::vector<Value> all;
  for (int b = 0; b < AnalogBytes; ++b)
    all.push_back({QString::fromLatin1(NamedByteTable[b].Name), QString::fromLatin1(NamedByteTable[b].Meaning), b, 0xFF,
                   Value::Named});
  QHash<QString, int> captions;
  for (const StatusFlag& flag : StatusFlags) ++captions[QString::fromLatin1(flag.Caption)];
  for (const StatusFlag& flag : StatusFlags) {
    QString caption = QString::fromLatin1(flag.Caption);
    // Two LEDs are both "Reserved"; the legend must tell them apart.
    if (captions.value(caption) > 1) {
      int bit = 0;
      while ((1 << bit) != flag.Mask) ++bit;
      caption += QStringLiteral(" (byte %1 bit %2)").arg(flag.Byte).arg(bit);
    }
    all.push_back({QString::fromLatin1(flag.Name), caption, flag.Byte, flag.Mask, Value::Flag});
  }
  for (int b = FirstAdditionalByte; b < RecordSize; ++b)
    all.push_back({QStringLiteral("byte%1").arg(b), QStringLiteral("Byte %1").arg(b), b, 0xFF, Value::Additional});
  return all;
}

void AddTime(QByteArray& out, qint64 time) {
  const QTime t = QDateTime::fromMSecsSinceEpoch(time).time();
  out += t.toString(QStringLiteral("HH:mm:ss.zzz")).toLatin1();
}

}  // namespace

const std::vector<Value>& All() {
  static const std::vector<Value> all = Build();
  return all;
}

int Find(const QString& name) {
  const std::vector<Value>& all = All();
  for (std::size_t i = 0; i < all.size(); ++i)
    if (all[i].Name == name) return static_cast<int>(i);
  return -1;
}

QString EventName(int kind) {
  switch (kind) {
  case 1: return QStringLiteral("Checksum error");
  case 2: return QStringLiteral("Start byte error");
  case 3: return QStringLiteral("Length error");
  case PortLost: return QStringLiteral("Port lost");
  case DamagedLine: return QStringLiteral("Damaged line");
  default: return QStringLiteral("Status %1").arg(kind);
  }
}

QByteArray CsvHeader(const std::vector<int>& values, bool withLine) {
  QByteArray out = withLine ? "line,time,status,length" : "time,status,length";
  for (int v : values) out += ',' + All()[static_cast<std::size_t>(v)].Name.toLatin1();
  out += '\n';
  return out;
}

QByteArray CsvLine(const Record& record, const std::vector<int>& values, bool withLine) {
  QByteArray out;
  if (withLine) out += QByteArray::number(record.Line) + ',';
  AddTime(out, record.Time);
  out += ',' + QByteArray::number(record.Status) + ',' + QByteArray::number(record.Length);
  for (int v : values) {
    const Value& value = All()[static_cast<std::size_t>(v)];
    out += ',';
    if (value.Byte < record.Length) out += QByteArray::number(value.Of(record.Data));
  }
  out += '\n';
  return out;
}

}  // namespace ChartValues
