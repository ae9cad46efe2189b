// Command and control ids of the main and merge windows. A command is known
// by its id alone: the main window's command table, buttons, menu items and
// shortcuts name it by id, and the tests drive both windows by the same ids.
#pragma once

namespace cmd {

enum : int {
    AddSwf = 1000,
    AddFolder = 1003,
    Remove = 1004,
    RemoveAll = 1005,
    Play = 1006,
    Minimize = 1008,
    HelpMenu = 1009,
    ConvertMp3 = 1010,
    ConvertAllMp3 = 1012,
    SaveAs = 1018,
    About = 1021,
    Close = 1023,
    Delete = 1026,
    ConvertAllWav = 1027,
    Merge = 1029,
    PlaySwf = 32771,
    BrowseFolder = 32777,
    BrowseSwfFolder = 32778,
    NoMenuImage = 32780,  // has an image in the menu strip but no menu item
    TellAFriend = 32782,
    Feedback = 32783,
    Homepage = 32784,
    CheckVersion = 32785,
    ConvertWav = 32793,
    ConvertFlac = 32794,
    ConvertKeep = 32795,
    ConvertAllFlac = 32796,
    ConvertAllKeep = 32797,
    SaveSoundtrack = 32798,
    HelpTopics = 57670,
};

}  // namespace cmd

// Control ids of the two lists.
enum : int { kSwfListId = 1001, kOutputListId = 1002 };

// Command and control ids of the merge window.
namespace mergecmd {

enum : int {
    Close = 2,  // the dialog's cancel id
    Merge = 1029,
    Up = 1031,
    Down = 1032,
    Remove = 1033,
    RemoveAll = 1034,
    AddMp3 = 1037,
    AddAllMp3 = 1038,
    PlayMp3 = 1039,
    PlaySwf = 1040,
    Help = 57670,
};

}  // namespace mergecmd

// Control ids of the merge window's lists.
enum : int { kMergeSwfListId = 1001, kMergeListId = 1002 };
