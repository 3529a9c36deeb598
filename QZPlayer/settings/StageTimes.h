// Where the player's start and quit spend their time, for the player
// benchmark: kept only when the environment variable QZ_STAGE_TIMES names a
// file, and written there as "name milliseconds" lines when the program ends.
// Otherwise each mark is the test of one flag: the normal start pays nothing.
#pragma once

namespace stagetimes {

// Durations, summed over every call: what the settings file and the list cost.
// A stage is marked by the code that runs it as a whole (the list pane for
// the list's save and freeing); steps inside one call (the settings file's,
// the list's load) are marked where they are.
enum Stage {
    kSettingsRead,  // the file's bytes, or the profile function's answer
    kSettingsSplit, // sections and lines found in the text
    kListKeys,      // the list's keys parsed and ordered
    kListRows,      // rows made of them
    kListCount,     // the list view told the count
    kListPane,      // the list pane's whole start-up (with all of the above for the list)
    kFrameShow,     // the frame shown
    kSaveEntries,   // the list as the section's new lines, and its modes
    kSaveCommit,    // the file read, edited, encoded, written and moved
    kSaveRead,      //   of it, the old file read
    kSaveFlush,     //   of it, the profile functions' copy dropped
    kSaveWrite,     //   of it, the new file written, flushed and moved
    kFreeRows,      // the rows freed
    kStageCount
};

// Moments of the run, on the clock every process shares
// (QueryPerformanceCounter), so that a benchmark can place them against its
// own start of the process.
enum Moment {
    kInitBegins,   // the program's start-up begins (InitInstance)
    kFrameShown,   // the frame created and shown: the message loop is next
    kQuitBegins,   // the message loop ended
    kQuitSaved,    // the frame and its panes gone, settings saved
    kMomentCount
};

bool Enabled();
void Mark(Moment m);

// Adds the time from its creation to its end to a stage.
class Scope {
public:
    explicit Scope(Stage s);
    ~Scope() { End(); }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

    // Ends it early; later calls add nothing.
    void End();

private:
    Stage m_stage;
    long long m_start; // 0 once ended
};

// Writes the file; nothing when not enabled.
void Write();

} // namespace stagetimes
