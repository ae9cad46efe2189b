// The addresses the help menu, the link button and About open. Each is a
// setting of the build and may be empty; the commands that would open an
// empty one are not offered.
#pragma once

#include <QString>

struct WebLinks {
    QString homePage;        // Homepage, the link button, Tell A Friend
    QString updateCheck;     // Check Latest Version, asked with ?Ver=...&Build=...
    QString supportMailbox;  // Feedback and Support

    // What the link button shows of the home page: its host.
    QString HomePageHost() const;
};

// The build's addresses, unless a test put others in their place.
const WebLinks& Links();
// Takes no ownership; nullptr brings back the build's. Windows read the
// addresses when they are made.
void SetLinks(const WebLinks* links);
