// One movie of the main window's list with the files of its last conversion.
// The main window owns these records; the merge window only reads them.
#pragma once

#include <list>
#include <string>

#include "swf/swf_movie.h"

struct CSwfEntry {
    int index = 0;  // its row; rewritten before a conversion, since sorting moves rows
    std::string path;
    std::list<CSoundElement> sounds;  // the files of its last conversion
};
