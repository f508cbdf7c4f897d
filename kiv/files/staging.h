// The outputs of one job: each is written into a private folder made inside
// its destination folder (the same file system, so a rename moves it whole),
// and all are renamed into place together once the whole job has succeeded.
// Whatever happens, closing the stage removes the private folder and every
// file still in it, so a failed job leaves nothing behind. The owner holds
// an flock on the folder for its whole life: a folder left by a crash is
// removed by the next job in the same destination once its lock is free.
// Everything after the open goes through descriptors of the destination and
// of the private folder, never through their names again, so a folder
// swapped for a symbolic link mid-job cannot send a write elsewhere.
#pragma once
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>
#include <signal.h>

struct Staging {
    std::string dir;      // the destination, as named
    std::string folder;   // the private folder; empty until opened
    std::string handle;   // a path to it through its descriptor, or the folder's path
    std::vector<std::pair<std::string, std::string>> moves;   // staged file, its final path
    std::vector<std::string> stale;   // files the commit removes: an older table's that this one lacks
    std::string record;               // the set's record of what it wrote: not listed as an output
    int lockFd = -1;                  // the open folder, locked while the job lives
    int dirFd = -1;                   // the destination, held open from the stage's start
    char leaf[24] = {};               // the private folder's name in it, for the signal handler
    size_t count = 0;                 // names handed out in the folder
    // A set's pictures lie in a folder of the private folder under their own
    // names, and a file beside it lists them in the order staged: however
    // many a job writes, none is held in memory.
    std::string pictureFolder;      // their final folder; empty until the first is staged
    int picturesFd = -1;            // the staged picture folder
    FILE* pictureList = nullptr;    // their names, one a line
    size_t pictures = 0;            // names listed
    size_t picturesAt = SIZE_MAX;   // among the moves, where they move into place
    // What the commit placed, for StageEachWritten: whether the picture
    // folder moved whole, else per listed picture whether it moved; and
    // what was left in place as it was, holding the bytes staged for it.
    bool picturesWhole = false;
    std::vector<bool> placed;
    std::vector<bool> keptPictures;
    std::vector<std::string> keptFiles;
};

// The folder part of path: "." for a bare name, "/" for a name at the root.
std::string FolderOf(const std::string& path);
// The name after the last '/'.
std::string LeafOf(const std::string& path);
// path without the extension of its last name; a name that starts with its
// only dot (".profile") has none.
std::string Stem(const std::string& path);
// folder and leaf joined; an empty folder or "." leaves the leaf alone.
std::string JoinPath(const std::string& folder, const std::string& leaf);

// Makes the private folder inside dir. Until the commit, Ctrl-C, SIGTERM or
// a hang-up ends the job at once: the private folder and its files go, and
// the status is 128 + the signal. From the commit on, they wait until the
// program exits, so that a commit is never cut in half.
int StageOpen(Staging* stage, const std::string& dir, std::string* error);
// A fresh path inside the private folder, for a file a conversion writes.
// Where the system shows a process's open folders (/proc/self/fd) the path
// goes through the held folder, so it reaches that folder whatever has
// become of the names above it.
std::string StageName(Staging* stage, const char* suffix);
// Writes data as a staged file that will become finalPath.
int StageWrite(Staging* stage, const std::string& finalPath, const void* data, size_t size,
               std::string* error);
// Starts writing bytes [from, to) of a staged file (open as fd) to disk
// without waiting for them, so that the commit's sync finds most of a large
// file written already. Durability still comes from that sync; where the
// system has no such call this does nothing.
void StageWriteBack(int fd, size_t from, size_t to);
// A picture that will become finalPath, created under its own name in the
// stage's picture folder and open for writing (O_EXCL); every picture of a
// stage goes into one folder. -1 with *error when the staged picture folder
// cannot be made or finalPath lies in another folder.
int StagePictureOpen(Staging* stage, const std::string& finalPath, std::string* error);
// StagePictureOpen, then data written and the file closed.
int StagePictureWrite(Staging* stage, const std::string& finalPath, const void* data, size_t size,
                      std::string* error);
// The pictures move into place after the files staged so far; until then
// they move where the first was staged.
void StagePicturesHere(Staging* stage);
// A file already written inside the private folder becomes finalPath.
void StageAdd(Staging* stage, const std::string& stagedPath, const std::string& finalPath);
// path goes once the staged files are in place.
void StageRemove(Staging* stage, const std::string& path);
// The record of what a set wrote, "NAME.kiv-files" in dir: one path a line,
// relative to dir, of every staged file whose name starts with base. Under
// force, the regular files an older record names that this commit does not
// write go in the same commit; a file kiv did not write stays, whatever its
// name. Call it once every file of the set is staged.
int StageSetRecord(Staging* stage, const std::string& dir, const std::string& name, const std::string& base,
                   bool force, std::string* error);
// The path of the record of name's set in dir.
std::string SetRecordPath(const std::string& dir, const std::string& name);
// Each entry of the record of name's set in dir that kiv may have written
// for base, in order, a line at a time; none when there is no record or it
// is not a regular file of its own.
void EachSetRecordEntry(const std::string& dir, const std::string& name, const std::string& base,
                        const std::function<void(const std::string&)>& fn);
// The record of name's set in dir staged again with only the entries keep
// accepts, for a change that takes a few files out of a set and leaves the
// rest. The files themselves are the caller's to remove (StageRemove).
int StageSetRecordKeeping(Staging* stage, const std::string& dir, const std::string& name,
                          const std::string& base, const std::function<bool(const std::string&)>& keep,
                          std::string* error);
// Holds the termination signals, syncs the staged files together (one call
// for the whole stage where the system allows it), then renames every staged
// file into place, in the order staged, removes the stale files and syncs
// each destination folder once. The staged pictures' folder becomes their
// folder in one rename when that folder does not exist yet; a listed picture
// whose staged copy is gone (cut short, or kept in place) does not move. Without force, refuses before renaming
// anything when one of the final paths exists. The final paths are appended
// to *written when it is not null (StageEachWritten gives them one at a
// time instead).
int StageCommit(Staging* stage, bool force, std::vector<std::string>* written, std::string* error);
// StageCommit with folder made first when makeFolder (a table's picture
// folder), and taken away again when the commit fails and it was made here.
// Without force, a picture that another set's record beside the folder names
// and that holds the bytes staged for it is left in place, not refused; it
// is listed in *written all the same.
int StageCommitWithFolder(Staging* stage, const std::string& folder, bool makeFolder, bool force,
                          std::vector<std::string>* written, std::string* error);
// After a commit that succeeded, and before StageClose: every path it
// wrote, in the order *written would list them, the pictures read back from
// their list on disk, so that a job of any number of pictures holds none.
void StageEachWritten(const Staging* stage, const std::function<void(const std::string&)>& fn);
// From now on a signal that ends the job says that the table is kept in
// path and lists path on stdout, as a job that ends lists what it wrote;
// "" says nothing is kept again.
void StageNoteKept(const std::string& path);
// Removes the private folder with what is left in it.
void StageClose(Staging* stage);
