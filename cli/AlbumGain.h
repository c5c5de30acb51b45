#pragma once

// --replaygain album: which files of the batch make each album, what each converted file
// measured, and once the batch is over each album's gain and peak in all its files' tags. An
// album is gated over its tracks' 400 ms blocks together, so each track's blocks are kept.

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/LoudnessMeter.h"

namespace zembra::cli {

class TAlbumGains {
  public:
    // The album of Key (a folder, or an album's tags), counting one more file of it.
    size_t AlbumOf(const std::string& Key, const std::string& Name);
    // A file of the album converted into Output and measured.
    void Add(size_t Album, const std::u16string& Output, const TLoudnessMeter& Meter);

    // Each album all of whose files were converted and measured gets its gain and peak in
    // every file (beside the file's own); Report(album, problem) tells of an album that gets
    // none and of a file that could not be tagged.
    void WriteTags(const std::function<void(const std::string& Name, const std::string& Problem)>& Report);

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

}  // namespace zembra::cli
