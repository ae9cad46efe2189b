// The web addresses the program opens. They are configuration values: a
// packager changes them here, and every window takes them from here.
#pragma once

#ifndef ORVELLIN_VERSION
#define ORVELLIN_VERSION "2.3"
#endif
#ifndef ORVELLIN_BUILD
#define ORVELLIN_BUILD 149
#endif

#define ORVELLIN_STR2(x) #x
#define ORVELLIN_STR(x) ORVELLIN_STR2(x)

namespace links {

inline constexpr const char* kHomePage = "https://orvellin.example/";
// What the link button shows of the home page.
inline constexpr const char* kHomePageText = "orvellin.example";
inline constexpr const char* kUpdateCheck = "https://orvellin.example/update";
inline constexpr const char* kSupportMailbox = "support@orvellin.example";
inline constexpr const char* kVersion = ORVELLIN_VERSION;
inline constexpr const char* kBuild = ORVELLIN_STR(ORVELLIN_BUILD);

}  // namespace links
