// Where the Linux program finds its deployment's addresses: the machine's
// /etc/parlex/parlex.conf, then the user's $XDG_CONFIG_HOME/parlex/parlex.conf
// (~/.config when the variable is unset or not absolute).
#pragma once

#include <string>
#include <vector>

#include "app/address_settings.h"

namespace parlex::app::posix {

inline constexpr char kSystemConfPath[] = "/etc/parlex/parlex.conf";
std::string UserConfPath();

// The files that exist, in the order given. A file that exists but cannot
// be read (or is not a file) is a source with an error: the program must
// not quietly run against the wrong service.
std::vector<SettingSource> ReadConfFiles(const std::vector<std::string>& paths);

}  // namespace parlex::app::posix
