#pragma once

// Album gain: which files of a batch make each album, what each converted file measured, and
// once the batch is over each album's gain and peak in all its files' tags. An album is gated
// over its tracks' 400 ms blocks together, so each track's blocks are kept. zembra-cli makes
// its albums of folders or album tags, the window of the files added together.

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "component/RUvivoVOV.h"
#include "engine/LoudnessMeter.h"

namespace zembra {

// Says what an album (or one of its files) did not get.
using TAlbumReport = std::function<void(const std::string& Name, const std::string& Problem)>;

// The album Input belongs to by its tags (album artist and album) when FromTags is set, else by
// its folder: the key, and the name a message gives the album.
std::pair<std::string, std::string> AlbumKeyOf(bool FromTags, const std::u16string& Input,
                                               const std::map<std::string, std::string>& Tags);

class TAlbumGains {
  public:
    // The album of Key (a folder, or an album's tags), counting one more file of it.
    size_t AlbumOf(const std::string& Key, const std::string& Name);
    // A file of the album converted into Output and measured.
    void Add(size_t Album, const std::u16string& Output, const TLoudnessMeter& Meter);

    // Each album all of whose files were converted and measured gets its gain and peak in
    // every file (beside the file's own); Report(album, problem) tells of an album that gets
    // none and of a file that could not be tagged.
    void WriteTags(const TAlbumReport& Report);

  private:
    struct TTrack {
        std::u16string Output;
        double Gain = 0.0;
        double Peak = 0.0;
    };
    struct TAlbum {
        std::string Name;
        size_t Files = 0;
        std::vector<TTrack> Tracks;
        std::vector<float> Blocks;
        double Peak = 0.0;
    };
    std::vector<TAlbum> FAlbums;
    std::map<std::string, size_t> FIndex;
};

// The window's albums: the files added together with one album choice form one album, whatever
// their tags say. The tasks are looked at once their run is over, before they are freed.
class TTaskAlbums {
  public:
    // The files joined from now on make a new album.
    void BeginAlbum();
    // A task of the album begun last, writing Output; the first one's tags name the album.
    void Join(TTaskId Id, const std::u16string& Output, const std::map<std::string, std::string>& Tags);
    bool Empty() const { return FTasks.empty(); }

    // The run is over: each album whose tasks all finished and were measured gets its gain in
    // every file. A task no longer in the component's list was taken off by the user and leaves
    // its album; a stopped or failed one leaves it without album gain. Everything is forgotten
    // afterwards: the next run's albums are its own.
    void RunEnded(TCustomRUvivoVOV& Component, const TAlbumReport& Report);

  private:
    struct TTask {
        TTaskId Id;
        size_t Album;
        std::u16string Output;
    };
    std::vector<TTask> FTasks;
    std::vector<std::string> FNames;  // of each album begun
    bool FNamed = true;               // whether the album begun last has its name
};

}  // namespace zembra
