#include "updatesettings.h"

UpdateSettings readUpdateSettings(const clsFileIni &ini)
{
    return {ini.ReadKey("data", "update_url", ""), readTrustSettings(ini), ini.ReadKey("data", "metrics_file", "")};
}
