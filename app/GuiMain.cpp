#include "app/GuiMain.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <array>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "CorvelVersion.h"
#include "app/CorvelGUIApp.h"
#include "platform/qt/HeadlessScreens.h"

namespace {
// Headless, the window is laid out on the work area everything is drawn for,
// so that a picture has the size and look it has on a desktop.
constexpr std::array kHeadlessScreens = {QRect(0, 0, 1920, 1040)};

// --help and --version need no window system: a person asking them on a
// machine without a display (over ssh, in a script) gets the answer, not an
// abort from the platform plugin.
bool AsksOnlyForText(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (argv[i] == nullptr) break;
    for (const char* option : {"-h", "--help", "-?", "--help-all", "-v", "--version"})
      if (std::strcmp(argv[i], option) == 0) return true;
  }
  return false;
}

void SetApplicationNames() {
  QCoreApplication::setApplicationName(QStringLiteral("CorvelGUI"));
  QCoreApplication::setOrganizationName(QStringLiteral("CorvelGUI"));
  QCoreApplication::setApplicationVersion(QString::fromLatin1(kCorvelVersion));
}
}  // namespace

int CorvelGuiMain(int argc, char** argv) {
  std::optional<QCoreApplication> textOnly;
  std::optional<QApplication> gui;
  std::optional<platform::HeadlessScreens> headless;
  if (AsksOnlyForText(argc, argv)) {
    textOnly.emplace(argc, argv);
  } else {
    headless.emplace(kHeadlessScreens);
    gui.emplace(argc, argv);
    headless.reset();  // the platform has its screens now
  }
  SetApplicationNames();

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Evaluation tool for the QV6031..QV6035 lamp boards."));
  parser.addHelpOption();
  parser.addVersionOption();
  QCommandLineOption simulate(QStringList{QStringLiteral("simulate")},
                              QStringLiteral("Run against a simulated lamp board with the given board id "
                                             "(0, 1, 3, 5 or 128; default 1), or a bench of several: 1,3,5."),
                              QStringLiteral("BOARD_ID"), QStringLiteral("1"));
  parser.addOption(simulate);
  QCommandLineOption simLatency(QStringList{QStringLiteral("sim-latency")},
                                QStringLiteral("The simulated board's delay per report, each way (default 1, as on "
                                               "USB)."),
                                QStringLiteral("MS"));
  QCommandLineOption simFaults(QStringList{QStringLiteral("sim-faults")},
                               QStringLiteral("The simulated board loses, spoils or refuses P percent of the "
                                              "frames: drop=P,corrupt=P,nak=P."),
                               QStringLiteral("SPEC"));
  QCommandLineOption simChipAddress(QStringList{QStringLiteral("sim-chip-address")},
                                    QStringLiteral("The simulated chip's own I2C address, 0x58..0x5B (default "
                                                   "0x5B): a transfer to any other fails as on a board whose "
                                                   "chip does not answer."),
                                    QStringLiteral("ADDR"));
  QCommandLineOption device(QStringList{QStringLiteral("device")},
                            QStringLiteral("Open exactly this hidraw node (e.g. /dev/hidraw3) instead of looking "
                                           "for the board."),
                            QStringLiteral("PATH"));
  parser.addOption(device);
  QCommandLineOption serial(QStringList{QStringLiteral("serial")},
                            QStringLiteral("With several boards attached, link the one with this USB serial number "
                                           "(the caption band offers the others)."),
                            QStringLiteral("SN"));
  parser.addOption(serial);
  parser.addOption(simLatency);
  parser.addOption(simFaults);
  parser.addOption(simChipAddress);
  QCommandLineOption screenshot(QStringList{QStringLiteral("screenshot")},
                                QStringLiteral("Save a picture of the window to FILE after --after ms, then quit "
                                               "(for documentation and checks without a display)."),
                                QStringLiteral("FILE"));
  QCommandLineOption after(QStringList{QStringLiteral("after")}, QStringLiteral("Delay for --screenshot."),
                           QStringLiteral("MS"), QStringLiteral("3000"));
  parser.addOption(screenshot);
  parser.addOption(after);
  // --simulate without a value means the default board; "--simulate 3" and
  // "--simulate=3" name one.
  QStringList args = QCoreApplication::arguments();
  for (int i = 0; i < args.size(); ++i) {
    const bool valueFollows = i + 1 < args.size() && !args[i + 1].startsWith(QLatin1Char('-'));
    if (args[i] == QLatin1String("--simulate") && !valueFollows) args[i] = QStringLiteral("--simulate=1");
  }
  parser.process(args);

  AppOptions options;
  if (parser.isSet(simulate)) {
    // One id, or a bench of several: "1,3,5".
    const QStringList ids = parser.value(simulate).split(QLatin1Char(','));
    for (const QString& text : ids) {
      bool ok = false;
      const uint id = text.toUInt(&ok, 0);
      if (!ok || id > 255 || ids.size() > 16) {
        std::fprintf(stderr, "corvelgui: --simulate takes board ids from 0 to 255 (at most 16, separated by commas)\n");
        return 2;
      }
      options.simulateBoardIds.push_back(static_cast<std::uint8_t>(id));
    }
    options.simulateBoardId = options.simulateBoardIds.front();
  }
  if (parser.isSet(serial)) options.serial = parser.value(serial).toStdString();
  if ((parser.isSet(simLatency) || parser.isSet(simFaults) || parser.isSet(simChipAddress)) &&
      !options.simulateBoardId) {
    std::fprintf(stderr, "corvelgui: --sim-latency, --sim-faults and --sim-chip-address need --simulate\n");
    return 2;
  }
  if (parser.isSet(device)) {
    if (options.simulateBoardId) {
      std::fprintf(stderr, "corvelgui: --device and --simulate exclude each other\n");
      return 2;
    }
    options.devicePath = parser.value(device).toStdString();
  }
  std::string knobError;
  sim::SimConfig simChip;
  if ((parser.isSet(simChipAddress) &&
       !sim::ParseChipAddress(parser.value(simChipAddress).toStdString(), simChip, knobError)) ||
      (parser.isSet(simLatency) &&
       !sim::ParseLatency(parser.value(simLatency).toStdString(), options.simFaults, knobError)) ||
      (parser.isSet(simFaults) &&
       !sim::ParseFaultSpec(parser.value(simFaults).toStdString(), options.simFaults, knobError))) {
    std::fprintf(stderr, "corvelgui: %s\n", knobError.c_str());
    return 2;
  }
  options.simChipAddress = simChip.chipAddress;

  if (parser.isSet(screenshot)) {
    options.screenshotPath = parser.value(screenshot);
    options.screenshotAfterMs = parser.value(after).toInt();
  }

  CCorvelGUIApp corvel(options);
  if (!corvel.CreateObjects()) return 1;
  corvel.Run();
  corvel.DestroyObjects();
  // The window showed why the given device could not be opened; a script
  // learns it from the exit code.
  return corvel.DeviceProblem().empty() ? 0 : 1;
}
