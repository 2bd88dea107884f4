// Texts and file names of the updater, the same in both builds.
#pragma once

namespace parlex::update {

inline constexpr char16_t kVersionFileName[] = u"update.txt";

// The question asked before anything is downloaded.
inline constexpr char16_t kAskText[] = u"检测到新版本，是否更新?";
inline constexpr char16_t kAskCaption[] = u"更新提醒";

// The download window.
inline constexpr char16_t kProgressCaption[] = u"正在更新";

// The previous executable is kept in its directory under its stem and this.
inline constexpr char16_t kBackupSuffix[] = u".旧版本";

// A new program waits beside the running one under its stem and this until
// it takes the program's name.
inline constexpr char16_t kStagingSuffix[] = u".新版本";

// The signature of a signed build's program, served beside it.
inline constexpr char16_t kSignatureSuffix[] = u".sig";

// The User-Agent of every request the updater makes.
inline constexpr char16_t kAgentName[] = u"AutoUpdateAgent";

}  // namespace parlex::update
