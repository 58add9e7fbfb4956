#pragma once

#include <filesystem>
#include <string>
#include <vector>

// Which lines updaterLogMessages gives: a run's story leaves out the closing line that ends every
// run ("Esito aggiornamento: <result>"), which RunFixture checks for every run it performs.
enum class LogLines { Story, All };

// The messages of the updater's log files in a folder (every "<exe>yyyymm.log", oldest month
// first), each without its "dd/mm/yyyy hh:mm:ss - " stamp. A line without a well-formed stamp is
// returned whole, prefixed with "BAD STAMP: ", so that a check on it fails.
std::vector<std::string> updaterLogMessages(const std::filesystem::path &folder,
                                            const std::string &exeName = "TesmoraUpdate",
                                            LogLines which = LogLines::Story);

// The run's own lines, as tests expect them.
namespace RunLines {
inline const std::string Start = "Download file semaforo";
inline const std::string Check = "Verifica autenticità file di upload";
inline const std::string Unverified =
    "Aggiornamenti non verificati: impostare public_key in TesmoraUpdate.ini per verificarne la firma";
inline const std::string BadSyntax = "Sintassi file semaforo non compatibile!";
inline const std::string Cleanup = "Cancellazione file di backup, vecchi di 15 giorni";
inline const std::string EmptyUpdate = "Cancellazione file temporanei (cartella update) ";
inline const std::string StartKiosk = "Start servizio Tesmora";
inline const std::string StopKiosk = "Stop servizio Tesmora";
inline const std::string Closing = "Esito aggiornamento: ";
} // namespace RunLines
