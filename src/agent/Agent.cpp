#include "Agent.h"

#include <exception>
#include <system_error>

#include "Communicate.h"
#include "CrashRecord.h"
#include "LinkRouter.h"
#include "LogFile.h"
#include "Logger.h"

TAgent::TAgent(TLogger& Logger, TAgentOptions Options)
    : FLogger(Logger), FOptions(std::move(Options)) {
  if (!FOptions.IncQuery) FOptions.IncQuery = [] {};
}

TAgent::~TAgent() {
  Stop();
}

bool TAgent::ReadSettings() {
  const std::filesystem::path& File = FOptions.Paths.ConfigFile;
  try {
    const TFileCheck Check =
        FOptions.CheckFiles ? FOptions.CheckFiles(FOptions.Paths) : TFileCheck{};
    if (!Check.Problem.empty()) {
      RefuseFiles(Check);
      return false;
    }
    // A new client identifier is stored beside the settings, in a folder that may not exist yet.
    std::error_code Ignored;
    std::filesystem::create_directories(File.parent_path(), Ignored);
    std::unique_ptr<TIniStore> Ini = FOptions.OpenIni(File);
    const TLogFileSettings LogSettings = ReadLogFileSettings(*Ini);
    OpenLogFile(LogSettings.LogFile, LogSettings.LogFileMaxKB);
    ReportLastCrash();
    for (const std::u16string& Note : Check.Notes) FLogger.ToLog(LogInfo, Note, 0);
    FLogger.ToLog(LogInfo, u"Read ini file...", 0);
    TAppSettings Settings = ::ReadSettings(*Ini, FOptions.NextRandom);
    FTlsPolicy = MakeTlsPolicy(Settings.TlsVerify, Settings.TlsPin, Settings.TlsServerName,
                               Settings.TlsMinVersion, FolderOf(File.u16string()));
    FLogger.ToLog(LogInfo, WritesModeText(Settings), 0);
    const std::u16string SSLNote = SSLSecureNote(Settings);
    if (!SSLNote.empty()) FLogger.ToLog(LogError, SSLNote, 0);
    FSettings = std::move(Settings);
    FLogger.ToLog(LogDone, u"Read ini", 0);
    return true;
  } catch (const std::exception&) {
    FLogger.ToLog(LogError, u"Cannot read ini file", 0);
    return false;
  }
}

// Nothing of the settings is read, their LogFile key neither: the default file log says why,
// unless its folder is what is unsafe (the host's other sinks say it then).
void TAgent::RefuseFiles(const TFileCheck& Check) {
  if (Check.DataFolderSafe) OpenLogFile(u"", 0);
  for (const std::u16string& Note : Check.Notes) FLogger.ToLog(LogInfo, Note, 0);
  FLogger.ToLog(LogError, Check.Problem, 0);
}

// The record of a crash that ended the last run is the log's first entry. It is added whether or
// not "Enable log" is ticked, so that it is not lost.
void TAgent::ReportLastCrash() {
  if (FOptions.Paths.CrashFolder.empty()) return;
  const std::u16string Notice = TakeCrashNotice(FOptions.Paths.CrashFolder);
  if (!Notice.empty()) FLogger.MessageToLog(LogError, Notice);
}

void TAgent::Start() {
  if (FLink) return;
  FLink = FOptions.MakeRouter ? std::make_unique<TCommunicate>(FOptions.MakeRouter())
                              : std::make_unique<TCommunicate>();
  FLink->SetTlsPolicyProp(FTlsPolicy);
  FLink->SetAllowWritesProp(FSettings.AllowWrites);
  FLink->SetAsyncGoodQualityProp(FSettings.AsyncAnyGoodQuality);
  FLink->SetBrowseElementsProp(FSettings.BrowseElements);
  FLink->SetHostProp(FSettings.Host);
  FLink->SetPortProp(FSettings.Port);
  FLink->SetUidProp(FSettings.Uid);
  FLink->SetLoggerProp(&FLogger);
  FLink->SetSSLSecureProp(FSettings.SSLSecure);
  FLink->SetIncQueryProp(FOptions.IncQuery);
}

void TAgent::Store(const TAppSettings& Settings) {
  FSettings.Host = Settings.Host;
  FSettings.Port = Settings.Port;
  FSettings.Uid = Settings.Uid;
  FSettings.SSLSecure = Settings.SSLSecure;
  std::unique_ptr<TIniStore> Ini = FOptions.OpenIni(FOptions.Paths.ConfigFile);
  WriteSettings(*Ini, FSettings);
}

void TAgent::Apply(const TAppSettings& Settings) {
  Store(Settings);
  if (!FLink) {
    // Reading the configuration failed at start, so there is no link yet: the settings now
    // stored are good to start one with.
    Start();
    return;
  }
  FLink->SetHostProp(FSettings.Host);
  FLink->SetPortProp(FSettings.Port);
  FLink->SetUidProp(FSettings.Uid);
  FLink->SetSSLSecureProp(FSettings.SSLSecure);
  FLink->Disconnect(true);
}

void TAgent::Stop() {
  StopLink();
  // Every other thread has ended: what is queued for the file is written now.
  CloseLogFile();
}

void TAgent::StopLink() {
  if (FLink) FLink->Disconnect(false);
  FLink.reset();
}

// A relative name is taken beside the configuration file.
void TAgent::OpenLogFile(const std::u16string& Name, int32_t MaxKB) {
  if (FLogFile) return;
  std::filesystem::path Path =
      Name.empty() ? FOptions.Paths.DefaultLogFile : std::filesystem::path(Name);
  if (Path.empty()) return;
  if (!Path.is_absolute()) Path = FOptions.Paths.ConfigFile.parent_path() / Path;
  std::error_code Ignored;  // a folder that cannot be made is reported by the file log itself
  std::filesystem::create_directories(Path.parent_path(), Ignored);
  const uint64_t KB = MaxKB > 0 ? static_cast<uint64_t>(MaxKB) : TLogFile::DefaultMaxKB;
  FLogFile = std::make_unique<TLogFile>(Path, KB * 1024);
  FLogger.AddSink(FLogFile.get());
}

void TAgent::CloseLogFile() {
  if (!FLogFile) return;
  FLogger.RemoveSink(FLogFile.get());
  FLogFile.reset();
}
