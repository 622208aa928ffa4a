// The main window's start and end: the log, the settings read from the configuration file, the
// optional log file and the link, made as the window is created and torn down as it closes.
#include <exception>
#include <filesystem>
#include <memory>
#include <string>

#include "ComSecurity.h"
#include "Communicate.h"
#include "CrashRecord.h"
#include "IniFile.h"
#include "LogFile.h"
#include "Logger.h"
#include "MainForm.h"
#include "MainFormIds.h"

void TMainFrm::FormCreate() {
  FTaskbarCreatedMsg = RegisterWindowMessageW(L"TaskbarCreated");
  InitApp();
  TrayIcon = std::make_unique<TTrayIcon>(FHandle, TrayIconId, WM_TRAYICON, L"Tagrelay");
  TrayIcon->Show(FIconDisconnected);
  QueryCount = 0;
  const bool IniRead = ReadIni();
  // After ReadIni, which clears the log.
  if (FAILED(FComSecurity)) Logger->ToLog(LogError, ComSecurityFailureText(FComSecurity), 0);
  if (IniRead) InitCommunicate();
  ShowStatus();
  SetTimer(FHandle, StatusTimerId, StatusPeriodMs, nullptr);
}

void TMainFrm::InitApp() {
  Logger = std::make_unique<TLogger>(LogView.get(), LogEnabCheckBox, FHandle);
}

// The record of a crash that ended the last run is the log's first entry. It is added whether or
// not "Enable log" is ticked, so that it is not lost.
void TMainFrm::ReportLastCrash() {
  std::u16string Notice = TakeCrashNotice(CrashFolder());
  if (!Notice.empty()) Logger->MessageToLog(LogError, Notice);
}

bool TMainFrm::ReadIni() {
  try {
    Logger->Clear();
    ReportLastCrash();
    Logger->ToLog(LogInfo, u"Read ini file...", 0);
    TIniFile ini(ConfigFilePath(), IniSection);
    TAppSettings settings = ReadSettings(ini, FNextRandom);
    Host = settings.Host;
    Port = settings.Port;
    Uid = settings.Uid;
    SSLSecure = settings.SSLSecure;
    AllowWrites = settings.AllowWrites;
    BrowseElements = settings.BrowseElements;
    TlsPolicy = MakeTlsPolicy(settings.TlsVerify, settings.TlsPin, settings.TlsServerName,
                              settings.TlsMinVersion, FolderOf(ConfigFilePath()));
    TLogFileSettings logFile = ReadLogFileSettings(ini);
    OpenLogFile(logFile.LogFile, logFile.LogFileMaxKB);
    InitControls();
    Logger->ToLog(LogDone, u"Read ini", 0);
    return true;
  } catch (const std::exception&) {
    Logger->ToLog(LogError, u"Cannot read ini file", 0);
    return false;
  }
}

void TMainFrm::InitCommunicate() {
  Communicate = std::make_unique<TCommunicate>();
  Communicate->SetTlsPolicyProp(TlsPolicy);
  Communicate->SetAllowWritesProp(AllowWrites);
  Communicate->SetBrowseElementsProp(BrowseElements);
  Communicate->SetHostProp(Host);
  Communicate->SetPortProp(Port);
  Communicate->SetUidProp(Uid);
  Communicate->SetLoggerProp(Logger.get());
  Communicate->SetSSLSecureProp(SSLSecure);
  Communicate->SetIncQueryProp([this] { IncQuery(); });
}

void TMainFrm::FormClose() {
  if (Communicate) Communicate->Disconnect(false);
  Communicate.reset();
  // Every other thread has ended: what is queued for the file is written now.
  CloseLogFile();
}

// A relative name is taken beside the executable; a bound of 0 or below means the default.
void TMainFrm::OpenLogFile(const std::u16string& Name, int32_t MaxKB) {
  if (Name.empty() || LogFile) return;
  std::filesystem::path path(Name);
  if (!path.is_absolute()) path = std::filesystem::path(ConfigFilePath()).parent_path() / path;
  const uint64_t kb = MaxKB > 0 ? static_cast<uint64_t>(MaxKB) : TLogFile::DefaultMaxKB;
  LogFile = std::make_unique<TLogFile>(path, kb * 1024);
  Logger->SetFileProp(LogFile.get());
}

void TMainFrm::CloseLogFile() {
  if (Logger) Logger->SetFileProp(nullptr);
  LogFile.reset();
}
