#include "operator/printer_control.h"

#include "wire/control.h"

namespace vpop {

bool setPrinter(const std::string& endpoint, const std::vector<std::string>& settings, std::string* error)
{
    return vprinterSet(endpoint, settings, error);
}

} // namespace vpop
