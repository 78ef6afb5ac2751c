#include "arguments.h"

#include <algorithm>
#include <optional>

#include "net/update_server_address.h"
#include "platform/text.h"

const char kHelpText[] =
    "Использование: patcher-cli [ПАРАМЕТРЫ] [check | apply ФАЙЛ]\n"
    "Обновление клиента Solmere Classic в консоли: тот же порядок работы, что у patcher.exe,\n"
    "только без окна.\n"
    "\n"
    "  (без команды)         открыть архивы клиента, сравнить его версию с версией сервера\n"
    "                        обновлений и, когда кончится отсчёт предложения, обновить клиент\n"
    "  check                 проверить все файлы клиента по полному списку сервера\n"
    "                        (после подтверждения)\n"
    "  apply ФАЙЛ            применить пакет обновления с диска, не обращаясь к серверу\n"
    "\n"
    "  --root ПАПКА          корневая папка клиента (в ней velkar и config). Она должна\n"
    "                        существовать; в пустой папке клиент ставится с нуля по полному\n"
    "                        списку сервера. По умолчанию: рабочая папка, если в ней есть\n"
    "                        папка velkar, иначе её родительская, если velkar есть там\n"
    "                        (так программу можно запускать и из корня клиента, и из его\n"
    "                        папки patcher)\n"
    "  --server УЗЕЛ[:ПОРТ]  сервер обновлений; по умолчанию встроенный адрес. Порт нужен\n"
    "                        для проверок на своём сервере: patcher.exe всегда работает со\n"
    "                        встроенным адресом и портом 80. Адрес IPv6 пишется в квадратных\n"
    "                        скобках: [::1]:8080. Можно указать несколько раз: зеркала\n"
    "                        пробуются по порядку, когда сервер не отвечает или файл\n"
    "                        приходит повреждённым\n"
    "  --release-key КЛЮЧ    открытый ключ подписи выпусков (64 шестнадцатеричные цифры, до\n"
    "                        двух раз) вместо встроенных: с ним клиент ставит только то, что\n"
    "                        подписано этим ключом, и проверяет каждый список и пакет\n"
    "  --limit-rate СКОРОСТЬ загружать не быстрее СКОРОСТИ байт в секунду; можно с k, m или g\n"
    "                        (кибибайты, мебибайты, гибибайты), как у curl: 500k, 2m\n"
    "  --connections N       загружать файлы клиента по N соединениям сразу, от 1 до 8\n"
    "                        (по умолчанию 4)\n"
    "  -y, --yes             отвечать «да» на все вопросы; повтор после ошибки начинается\n"
    "                        после отсчёта вопроса или, если отсчёта нет, после паузы в\n"
    "                        1, 2, 4 с\n"
    "      --json            в конце вывести на стандартный вывод один объект JSON с итогом;\n"
    "                        всё остальное тогда идёт в стандартный поток ошибок\n"
    "  -h, --help            показать эту справку\n"
    "      --version         показать версию программы\n"
    "  --                    дальше нет параметров (для ФАЙЛА, имя которого начинается с «-»)\n"
    "\n"
    "Вопросы задаются в терминале, с обратным отсчётом, если он есть; ответ: д или н (y или n).\n"
    "Без терминала вопрос без отсчёта получает ответ «нет», вопрос с отсчётом — «да», когда\n"
    "отсчёт кончится. Без человека у терминала (нет терминала или --yes) один и тот же вопрос\n"
    "получает «да» не больше трёх раз. Ctrl+C во время проверки файлов или применения пакета\n"
    "отменяет операцию, как кнопка закрытия окна. Журнал пишется в log.txt в рабочей папке.\n"
    "Итог (проверено и загружено файлов, байты, время) выводится в стандартный поток ошибок,\n"
    "туда же — ошибки с их причиной.\n"
    "\n"
    "Коды выхода:\n"
    "  0  клиент готов к запуску (для apply: пакет применён)\n"
    "  1  клиенту ещё нужно обновление (отказ, ошибка записи, пакет не подходит)\n"
    "     или проверка отклонена\n"
    "  2  неверный вызов (параметры, нет ФАЙЛА или папки клиента, ФАЙЛ не пакет обновления)\n"
    "  3  ошибка сервера обновлений (версия, списки или файлы, которые он не отдаёт)\n"
    "  4  папка клиента повреждена (поможет check)\n"
    "  5  операция отменена\n"
    "  6  папку клиента уже использует другая программа обновления\n";

const char kUsageHint[] =
    "Использование: patcher-cli [ПАРАМЕТРЫ] [check | apply ФАЙЛ]\n"
    "Подробнее: patcher-cli --help\n";

std::string VersionText() {
  return std::string("patcher-cli (Solmere Classic Updater) ") + SOLMERE_VERSION + "\n";
}

namespace {

bool Fail(std::string* error, std::string reason) {
  *error = std::move(reason);
  return false;
}

// "500", "500k", "2M", "1g": bytes a second, the suffixes counting 1024 each as curl's do;
// none for anything else, 0 or a figure past any line's speed.
std::optional<uint64_t> ParseRate(const std::u16string& text) {
  uint64_t value = 0;
  std::size_t at = 0;
  for (; at < text.size() && text[at] >= u'0' && text[at] <= u'9'; ++at) {
    if (at >= 12) return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(text[at] - u'0');
  }
  if (at == 0) return std::nullopt;
  if (at + 1 == text.size()) {
    switch (text[at]) {
      case u'k':
      case u'K':
        value <<= 10;
        break;
      case u'm':
      case u'M':
        value <<= 20;
        break;
      case u'g':
      case u'G':
        value <<= 30;
        break;
      default:
        return std::nullopt;
    }
  } else if (at != text.size()) {
    return std::nullopt;
  }
  if (value == 0 || value > (uint64_t{1} << 40)) return std::nullopt;
  return value;
}

bool ParseServer(const std::u16string& text, CliOptions* options) {
  const std::optional<UpdateServerAddress> address = ParseServerAddress(text);
  if (!address) return false;
  options->servers.push_back(*address);
  return true;
}

// Options that take a value, and flags.
enum class Kind { kValue, kFlag };
struct KnownOption {
  const char16_t* longName;
  char16_t shortName;
  Kind kind;
};
constexpr KnownOption kOptions[] = {
    {u"root", 0, Kind::kValue},       {u"server", 0, Kind::kValue},      {u"release-key", 0, Kind::kValue},
    {u"limit-rate", 0, Kind::kValue}, {u"connections", 0, Kind::kValue}, {u"yes", u'y', Kind::kFlag},
    {u"json", 0, Kind::kFlag},        {u"help", u'h', Kind::kFlag},      {u"version", 0, Kind::kFlag},
};

bool Apply(const KnownOption& option, const std::u16string& value, CliOptions* options, std::string* error) {
  const std::u16string name = option.longName;
  if (name == u"root") {
    if (value.empty()) return Fail(error, "--root: нужна папка");
    options->root = value;
  } else if (name == u"server") {
    if (!ParseServer(value, options))
      return Fail(error,
                  "--server: нужен УЗЕЛ или УЗЕЛ:ПОРТ с портом от 1 до 65535, без схемы и пути (адрес IPv6 "
                  "в квадратных скобках: [::1]:80), а не «" +
                      platform::Utf8FromUtf16(value) + "»");
  } else if (name == u"release-key") {
    const bool hex = value.size() == 64 && std::all_of(value.begin(), value.end(), [](char16_t c) {
                       return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
                     });
    if (!hex) return Fail(error, "--release-key: нужен открытый ключ, 64 шестнадцатеричные цифры (publish keygen)");
    if (options->releaseKeys.size() == 2) return Fail(error, "--release-key: не больше двух ключей");
    options->releaseKeys.emplace_back(value.begin(), value.end());
  } else if (name == u"limit-rate") {
    const std::optional<uint64_t> rate = ParseRate(value);
    if (!rate)
      return Fail(error, "--limit-rate: нужна скорость в байтах в секунду, например 500k или 2m, а не «" +
                             platform::Utf8FromUtf16(value) + "»");
    options->limitRate = *rate;
  } else if (name == u"connections") {
    if (value.size() != 1 || value[0] < u'1' || value[0] > u'8')
      return Fail(error,
                  "--connections: нужно число соединений от 1 до 8, а не «" + platform::Utf8FromUtf16(value) + "»");
    options->connections = value[0] - u'0';
  } else if (name == u"yes") {
    options->yes = true;
  } else if (name == u"json") {
    options->json = true;
  } else if (name == u"help") {
    options->help = true;
  } else if (name == u"version") {
    options->version = true;
  }
  return true;
}

}  // namespace

bool ParseArguments(const std::vector<std::u16string>& arguments, CliOptions* options, std::string* error) {
  std::vector<std::u16string> words;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::u16string& argument = arguments[i];
    if (optionsEnded || argument.size() < 2 || argument[0] != u'-') {
      words.push_back(argument);
      continue;
    }
    if (argument == u"--") {
      optionsEnded = true;
      continue;
    }
    const bool isLong = argument[1] == u'-';
    const std::size_t equals = isLong ? argument.find(u'=') : std::u16string::npos;
    const std::u16string name = isLong ? argument.substr(2, equals - 2) : argument.substr(1);
    const KnownOption* known = nullptr;
    for (const KnownOption& candidate : kOptions)
      if (isLong ? name == candidate.longName : (name.size() == 1 && name[0] == candidate.shortName))
        known = &candidate;
    const std::string shown = platform::Utf8FromUtf16(argument.substr(0, equals));
    if (known == nullptr) return Fail(error, "неизвестный параметр " + shown);
    std::u16string value;
    if (known->kind == Kind::kValue) {
      if (equals != std::u16string::npos) {
        value = argument.substr(equals + 1);
      } else if (i + 1 < arguments.size()) {
        value = arguments[++i];
      } else {
        return Fail(error, shown + ": нужно значение");
      }
    } else if (equals != std::u16string::npos) {
      return Fail(error, shown + " не принимает значения");
    }
    if (!Apply(*known, value, options, error)) return false;
  }
  if (words.empty()) return true;
  if (words[0] == u"check") {
    if (words.size() != 1) return Fail(error, "check не принимает аргументов");
    options->command = CliCommand::kCheck;
    return true;
  }
  if (words[0] == u"apply") {
    if (words.size() != 2) return Fail(error, "apply: нужен ровно один ФАЙЛ");
    options->command = CliCommand::kApply;
    options->packagePath = words[1];
    return true;
  }
  return Fail(error, "неизвестная команда " + platform::Utf8FromUtf16(words[0]));
}
