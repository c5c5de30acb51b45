#pragma once

// Which output belongs to which source, kept where the outputs are: each folder that outputs go
// into holds a hidden record (".zembra-outputs") with a line for every output name a run took
// in it and the source it took the name for. A rerun with --skip-existing finds a source's
// output there whatever number it got, and the folder walk knows the outputs from the sources.
//
// Lines are only ever appended, each with one write to a file opened with O_APPEND, so runs
// writing into one folder at once leave whole lines; the last line naming a name tells whose it
// is. A line is written when the name is taken fresh (the name then holds that source's finished
// output, its empty reservation while it converts, or nothing once the task stopped or failed),
// and when an output replacing an older file (--overwrite) finished, since until then the name
// still holds the older file. All names here are file-system names (bytes).

#include <sys/types.h>

#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>

namespace zembra::cli {

inline constexpr char kOutputRecordName[] = ".zembra-outputs";

// How a source is named in the records: its real path, links resolved, so that a folder given
// another way (relative, through a link) is still the same source; the absolute path as given
// when it cannot be resolved.
std::string SourceIdentity(const std::string& Path);

// NAME when BaseName is NAME_(new).EXT or NAME_(new_N).EXT, or a kept partial of one
// (NAME_(new).partial.EXT): the shapes of this program's own output names. Empty otherwise.
std::string OutputStemOf(const std::string& BaseName);

// The names one source's output may have in its folder, in the order a run tries them.
struct TNameFamily {
    std::string Folder;  // without a trailing '/'
    std::string Stem;    // the source's name without its suffix, or the --name name
    std::string Suffix;  // ".mp3"
    // A name --name made: STEM.mp3, then "STEM (1).mp3"; else STEM_(new).mp3, STEM_(new_1).mp3.
    bool Chosen = false;

    std::string First() const;  // the base name a run tries first
    bool Holds(const std::string& BaseName) const;
    std::string Path(const std::string& BaseName) const;
};

// The family of Base (folder and stem, as a wide name) with Suffix.
TNameFamily NameFamilyOf(const std::u16string& Base, const std::string& Suffix, bool Chosen);

// Whether a source is skipped with --skip-existing, and the text after "skipped, ".
struct TSkipVerdict {
    bool Skip = false;
    std::string Reason;
};

class TOutputRecords {
  public:
    // Whether Folder's record names BaseName as an output; Source gets whose.
    bool Lists(const std::string& Folder, const std::string& BaseName, std::string* Source = nullptr);

    // What makes --skip-existing skip Source: a name of its family that the records give it and
    // that holds a finished file, or its reservation while another run converts into it; a folder
    // at the first name; a finished file at the first name that no record names (made before
    // records were kept). Reserved names (this run's inputs and outputs) never count.
    TSkipVerdict Existing(const std::string& Source, const TNameFamily& Family,
                          const std::function<bool(const std::string&)>& Reserved);

    // Output, of Family, was chosen for Source; Fresh: this process took the name, else it
    // replaces a file there. Written down before the task starts. With StepBack (--skip-existing),
    // a run that wrote an earlier line for the same source and is still converting it, or has
    // just finished it, wins: the verdict says to give the name up and skip.
    TSkipVerdict Chosen(const std::string& Output, const std::string& Source, const TNameFamily& Family,
                        bool Fresh, bool StepBack, const std::function<bool(const std::string&)>& Reserved);

    // Output finished: an output that replaced a file is its source's from now on.
    void Finished(const std::string& Output);

    // At the end of a run: a record this run made goes again when it names nothing that is
    // there (every task failed or stopped) and no other run wrote to it, so that a run that
    // made no output leaves its folders as they were.
    void Tidy();

  private:
    struct TEntry {
        std::string Source;
        off_t End = 0;  // where the line ends in the record: the order of runs' lines
    };
    struct TFolder {
        off_t Read = 0;  // up to the end of the last whole line
        std::unordered_map<std::string, TEntry> Names;
        std::unordered_multimap<std::string, std::string> BySource;
    };

    TFolder& Refresh(const std::string& Folder);
    // Appends a line; the record's size after it, or -1.
    off_t Append(const std::string& Output, char Kind, const std::string& Source);
    // What a name of Source's in Folder stands for, for lines ending before Before.
    TSkipVerdict Held(TFolder& Record, const TNameFamily& Family, const std::string& Source, off_t Before,
                      const std::string& Except, const std::function<bool(const std::string&)>& Reserved);

    std::mutex FLock;
    std::unordered_map<std::string, TFolder> FFolders;
    std::unordered_map<std::string, std::string> FReplacing;  // output -> source, until it finishes
    std::unordered_map<std::string, off_t> FMade;  // records this run made, and what it wrote there
};

}  // namespace zembra::cli
