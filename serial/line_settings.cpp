#include "serial/line_settings.h"

std::string SettingsText(const LineSettings& settings)
{
    const char* parity = settings.parity == Parity::Odd    ? ",O"
                         : settings.parity == Parity::Even ? ",E"
                                                           : ",N";
    return std::to_string(settings.baud) + parity + ",8,1";
}
