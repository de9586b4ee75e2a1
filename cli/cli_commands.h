// The commands of torvikel-cli. Each takes the arguments after its name and returns the
// process exit code (kExitSuccess, kExitFailure, kExitUsage).
//
// Thread rule: main thread.
#pragma once

#include <string>
#include <vector>

using CliArgs = std::vector<std::string>;

int RunPorts(const CliArgs& args);
int RunMonitor(const CliArgs& args);
int RunSend(const CliArgs& args);
int RunLog(const CliArgs& args);
int RunEpoUpdate(const CliArgs& args);
int RunLocus(const CliArgs& args);
int RunConfig(const CliArgs& args);
int RunReport(const CliArgs& args);

extern const char* const kPortsHelp;
extern const char* const kMonitorHelp;
extern const char* const kSendHelp;
extern const char* const kLogHelp;
extern const char* const kEpoUpdateHelp;
extern const char* const kLocusHelp;
extern const char* const kConfigHelp;
extern const char* const kReportHelp;
