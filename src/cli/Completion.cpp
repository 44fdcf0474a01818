// quorlink completion: the bash completion script. Commands and options come
// from each command's own parser (its help text, asked for without running
// the command), values from the core's tables, so the script follows the
// program as it changes.

#include "cli/CliSupport.h"
#include "cli/Commands.h"
#include "cli/TruckValues.h"
#include "serial/LineSettings.h"

#include <QRegularExpression>

namespace {

struct Option {
  QStringList Names;  // "-p", "--port"
  QString ValueName;  // empty for a switch
};

struct CommandOptions {
  QString Name;
  QList<Option> Options;
  QStringList Arguments;  // the names of the positional arguments, in order
};

CommandOptions Read(const Commands::Entry& command) {
  QString help;
  Cli::SetHelpSink(&help);
  command.Run({QLatin1String(command.Name)});
  Cli::SetHelpSink(nullptr);

  CommandOptions result{QLatin1String(command.Name), {}, {}};
  static const QRegularExpression option(QStringLiteral("^  (--?[\\w-]+(?:, --?[\\w-]+)*)(?: <([^>]*)>)?(?:\\s|$)"));
  static const QRegularExpression argument(QStringLiteral("^  (\\S+)(?:\\s|$)"));
  bool arguments = false;
  for (const QString& line : help.split(QLatin1Char('\n'))) {
    if (!line.startsWith(QLatin1Char(' '))) {
      arguments = line == QLatin1String("Arguments:");
      continue;
    }
    if (arguments) {
      if (const QRegularExpressionMatch m = argument.match(line); m.hasMatch()) result.Arguments << m.captured(1);
    } else if (const QRegularExpressionMatch m = option.match(line); m.hasMatch()) {
      result.Options.append({m.captured(1).split(QStringLiteral(", ")), m.captured(2)});
    }
  }
  return result;
}

QString Words(std::initializer_list<QString> words) { return QStringList(words).join(QLatin1Char(' ')); }

// What may follow an option that takes a value, as the script's kinds:
// "port", "com", "file", "words:..." (any of the words), "assign:..." (a
// name and "="), "none" (nothing to offer).
QString ValueKind(const QString& command, const Option& option) {
  const QString name = option.Names.last().mid(2);
  if (name == QLatin1String("port")) return QStringLiteral("port");
  if (name == QLatin1String("check")) return QStringLiteral("com");
  if (name == QLatin1String("parity")) {
    QStringList words;
    for (const LineSettings::TParity& parity : LineSettings::Parities) words << QLatin1String(parity.Name);
    return QStringLiteral("words:") + words.join(QLatin1Char(' '));
  }
  if (name == QLatin1String("stop-bits")) {
    QStringList words;
    for (const LineSettings::TStopBits& stopBits : LineSettings::StopBits) words << QLatin1String(stopBits.Name);
    return QStringLiteral("words:") + words.join(QLatin1Char(' '));
  }
  if (name == QLatin1String("data-bits")) {
    QStringList words;
    for (const LineSettings::TDataBits& dataBits : LineSettings::DataBits) words << QString::number(dataBits.Code);
    return QStringLiteral("words:") + words.join(QLatin1Char(' '));
  }
  if (name == QLatin1String("baud")) {
    QStringList words;
    for (const int rate : LineSettings::OfferedRates) words << QString::number(rate);
    return QStringLiteral("words:") + words.join(QLatin1Char(' '));
  }
  if (name == QLatin1String("set")) {
    QStringList words;
    for (const TruckValues::Field& field : TruckValues::Columns()) words << field.Name;
    words << QStringLiteral("status_1") << QStringLiteral("status_2") << QStringLiteral("status_3");
    return QStringLiteral("assign:") + words.join(QLatin1Char(' '));
  }
  if (name == QLatin1String("format"))
    return QStringLiteral("words:") +
           (command == QLatin1String("decode") ? Words({"csv", "json"}) : Words({"text", "csv", "json"}));
  if (option.ValueName == QLatin1String("file")) return QStringLiteral("file");
  return QStringLiteral("none");
}

QString ArgumentKind(const QString& argument, const QStringList& commandNames) {
  if (argument == QLatin1String("command")) return QStringLiteral("words:") + commandNames.join(QLatin1Char(' '));
  if (argument.startsWith(QLatin1String("COM"))) return QStringLiteral("com");
  return QStringLiteral("file");
}

// A bash word in single quotes.
QString Quoted(const QString& text) {
  QString t = text;
  t.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
  return QLatin1Char('\'') + t + QLatin1Char('\'');
}

const char ScriptHead[] = R"script(# bash completion for quorlink                             -*- shell-script -*-
# Made by "quorlink completion" from the program's own options.

# Adds the candidates that start with the current word ($1, as typed) to
# COMPREPLY, less the part bash has split off at a word break (= or :).
_quorlink_reply()
{
    local full=$1 head="" i c
    shift
    local breaks=${COMP_WORDBREAKS-=:}
    for ((i = ${#full} - 1; i >= 0; i--)); do
        if [[ $breaks == *"${full:i:1}"* ]]; then
            head=${full:0:i+1}
            break
        fi
    done
    for c in "$@"; do
        [[ $c == "$full"* ]] && COMPREPLY+=("${c#"$head"}")
    done
}

# Offers what a kind of value may be: $1 the word as typed, $2 the part
# before the value ("--port=" or nothing), $3 the kind.
_quorlink_offer()
{
    local full=$1 prefix=$2 kind=$3 cur=${1#"$2"} w
    local -a candidates=()
    case $kind in
        words:*)
            for w in ${kind#words:}; do candidates+=("$prefix$w"); done ;;
        assign:*)
            for w in ${kind#assign:}; do candidates+=("$prefix$w="); done
            compopt -o nospace 2>/dev/null ;;
        com | port)
            for w in COM1 COM2 COM3 COM4; do candidates+=("$prefix$w"); done ;;
    esac
    if [[ $kind == file || ($kind == port && $cur == */*) ]]; then
        compopt -o filenames 2>/dev/null
        while IFS= read -r w; do candidates+=("$prefix$w"); done < <(compgen -f -- "$cur")
    fi
    _quorlink_reply "$full" "${candidates[@]}"
}

_quorlink()
{
    local line=${COMP_LINE:0:COMP_POINT}
    local -a words
    read -ra words <<<"$line"
    [[ -z $line || $line == *[[:space:]] ]] && words+=("")
    local last=$((${#words[@]} - 1))
    local cur=${words[last]}
    COMPREPLY=()
    if ((last <= 1)); then
        _quorlink_offer "$cur" "" "words:$(_quorlink_commands) $(_quorlink_options "")"
        return 0
    fi
    local command=${words[1]} i word pending="" arguments=0
    for ((i = 2; i < last; i++)); do
        word=${words[i]}
        if [[ -n $pending ]]; then
            pending=""
        elif [[ $word == -?* ]]; then
            [[ $word != *=* && $(_quorlink_value "$command" "$word") ]] && pending=1
        else
            arguments=$((arguments + 1))
        fi
    done
    if [[ -n $pending ]]; then
        _quorlink_offer "$cur" "" "$(_quorlink_value "$command" "${words[last - 1]}")"
    elif [[ $cur == --*=* ]]; then
        _quorlink_offer "$cur" "${cur%%=*}=" "$(_quorlink_value "$command" "${cur%%=*}")"
    elif [[ $cur == -* ]]; then
        _quorlink_offer "$cur" "" "words:$(_quorlink_options "$command")"
    else
        _quorlink_offer "$cur" "" "$(_quorlink_argument "$command" "$arguments")"
    fi
    return 0
}
)script";

}  // namespace

QString Commands::BashCompletion(const std::vector<Entry>& commands) {
  QStringList names;
  for (const Entry& command : commands) names << QLatin1String(command.Name);
  QList<CommandOptions> all;
  for (const Entry& command : commands) all << Read(command);

  QString options = QStringLiteral(
      "# The options of a command (\"\": those before a command).\n"
      "_quorlink_options()\n{\n    case $1 in\n"
      "        \"\") echo '-h --help -V --version' ;;\n");
  QString values = QStringLiteral(
      "# What follows an option of a command; nothing for an option without a value.\n"
      "_quorlink_value()\n{\n    case \"$1 $2\" in\n");
  QString arguments = QStringLiteral(
      "# What the Nth argument of a command is.\n"
      "_quorlink_argument()\n{\n    case \"$1 $2\" in\n");
  for (const CommandOptions& command : all) {
    QStringList words;
    for (const Option& option : command.Options) words << option.Names;
    options += QStringLiteral("        %1) echo %2 ;;\n").arg(command.Name, Quoted(words.join(QLatin1Char(' '))));
    for (const Option& option : command.Options) {
      if (option.ValueName.isEmpty()) continue;
      QStringList patterns;
      for (const QString& name : option.Names) patterns << Quoted(command.Name + QLatin1Char(' ') + name);
      values += QStringLiteral("        %1) echo %2 ;;\n")
                    .arg(patterns.join(QLatin1Char('|')), Quoted(ValueKind(command.Name, option)));
    }
    for (qsizetype i = 0; i < command.Arguments.size(); ++i)
      arguments += QStringLiteral("        %1) echo %2 ;;\n")
                       .arg(Quoted(command.Name + QLatin1Char(' ') + QString::number(i)),
                            Quoted(ArgumentKind(command.Arguments.at(i), names)));
  }
  options += QStringLiteral("    esac\n}\n\n");
  values += QStringLiteral("    esac\n}\n\n");
  arguments += QStringLiteral("    esac\n}\n\n");

  return QString::fromUtf8(ScriptHead) + QLatin1Char('\n') +
         QStringLiteral("_quorlink_commands()\n{\n    echo %1\n}\n\n").arg(Quoted(names.join(QLatin1Char(' ')))) +
         options + values + arguments + QStringLiteral("complete -F _quorlink quorlink\n");
}
