#pragma once

// One file's task records: the settings dialog's builder fed with the command line's choices,
// then the command line's own rules on top (sound only, tags, cover, encoder, option lines).

#include <optional>
#include <string>

#include "app/OptionBuilder.h"
#include "app/SoundCopyDecision.h"
#include "cli/CliOptions.h"
#include "component/OptionRecords.h"

namespace zembra::cli {

struct TTaskRecords {
    TInputOptions In;
    TOutputOptions Out;
    TSoundCopyDecision Sound;  // whether the sound is copied unchanged, and why
};

// OutPath: the output folder ending with '/', empty for beside the input. Cut: the piece of
// this file, already checked against its length. OutputName: the output's whole name without
// its suffix when --name made it, else empty.
TTaskRecords BuildTaskRecords(const TCliOptions& O, const TSourceInfo& Source,
                              const std::optional<TCutRequest>& Cut, const std::u16string& OutPath,
                              const TBuildContext& Context, const std::u16string& OutputName = {});

// The name the file's output has when no other file is in the way: NAME_(new).EXT.
std::u16string PlainOutputName(const TCliOptions& O, const std::u16string& Input,
                               const std::u16string& OutPath);

}  // namespace zembra::cli
