#pragma once

#include <functional>
#include <string>

namespace zembra {

// Output names this process has taken and the hidden files it writes outputs into until they
// are finished. A name is taken by creating its file only when nothing is there, so two
// processes (or the window and zembra-cli) writing into one folder never get the same name. An
// output is written under a temporary name in the same folder and renamed over its name once it
// is finished, so a name holds a finished file or nothing but its empty reservation.
//
// Each process keeps a lock file of its own (".zembra-ID.lock", locked for as long as the process
// has anything in the folder, listing the names it took) in every folder it writes to. A process
// that died, however it died, left its lock file unlocked: the next process preparing that folder
// removes the dead one's temporary files and the empty reservations it listed. A live process's
// files are never touched. All names here are file-system names (bytes).

// Removes what dead processes left in Folder; does the work once per process and folder.
void PrepareOutputFolder(const std::string& Folder);

// Takes Name by creating it as an empty file, only when nothing is there: 0, or the errno of
// the failure (EEXIST when the name is taken, a folder or anything else being there).
int ClaimOutputName(const std::string& Name);

// Whether this process took Name and has not given it up.
bool IsOwnOutputClaim(const std::string& Name);

// Gives a claim up. With RemoveEmpty its file goes when it is still the empty reservation.
void ReleaseOutputClaim(const std::string& Name, bool RemoveEmpty);

// A name for the file that an output of Name is written to until it is finished: hidden, in
// Name's folder, unique to this process, and recognisable as this process's. It ends in Name's
// extension, so that a muxer checking the extension of the name it writes to is content.
std::string NewTemporaryOutputName(const std::string& Name);

// The temporary file has been renamed or removed.
void ForgetTemporaryOutput(const std::string& TemporaryName);

// Whether a base name is one of the temporary files above (whichever process made it, also in
// the form without the extension that earlier versions made).
bool IsTemporaryOutputName(const std::string& BaseName);

// For a process that ends without waiting for its tasks: removes its temporary files, the
// reservations it still holds empty and its lock files, so that it leaves the folders as a
// finished run would. False when it could not (the registry stayed busy).
bool RemoveUnfinishedOutputs();

// Whether the lock file of a live process (this one included) in Name's folder lists Name as
// taken: another run is converting into it. Touches nothing a dead process left.
bool IsListedByLiveProcess(const std::string& Name);

// Where warnings about a folder go: one that takes no file locks (ENOLCK, EOPNOTSUPP), once per
// folder. Warnings found before a handler is set wait for it.
void SetOutputFolderWarningHandler(std::function<void(const std::string& Message)> Handler);

}  // namespace zembra
