// One movie of the main window's list with the files of its last conversion.
// The main window owns these records; the merge window only reads them.
#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <string>
#include <vector>

#include "swf/swf_movie.h"

// A sound of the movie that its last conversion made no file of.
struct CLostSound {
    int number = 0;  // its place among the movie's sounds, from 1
    int embeddedMovie = -1;  // an embedded movie's id when a whole movie's sounds were lost
    uint8_t format = 0;
    uint32_t rate = 0;
    uint16_t channels = 0;
    uint16_t bits = 0;
    uint32_t samples = 0;
    std::string reason;  // in the report's words
};

struct CSwfEntry {
    int index = 0;  // its row; rewritten before a conversion, since sorting moves rows
    std::string path;
    std::list<CSoundElement> sounds;  // the files of its last conversion
    // What its last conversion failed at or lost, as the report says it; ""
    // when it went whole or has not run.
    std::string outcome;
    std::vector<CLostSound> lost;
    // Files of sounds that did not come out whole or in the type asked for, with why.
    std::map<const CSoundElement*, std::string> notes;
};
