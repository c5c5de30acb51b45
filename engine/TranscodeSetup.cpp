// The setup half of a run: stream mapping, codec parameters, opening codecs, headers.

#include <strings.h>

#include <algorithm>

#include "binding/EntryPoints.h"
#include "binding/FFmpegLoader.h"
#include "engine/CodecThreads.h"
#include "engine/EncoderParameters.h"
#include "engine/SoundSegments.h"
#include "engine/Transcoder.h"
#include "logging/FFmpegLogger.h"
#include "protocol/UnicodeProtocol.h"
#include "util/Formatting.h"
#include "util/StringUtils.h"

namespace zembra {

namespace {

std::string TypeName(const AVStream* St) {
    return MediaTypeName(St->codecpar->codec_type);
}

}  // namespace

TTranscoder::TTranscoder(TCustomFFmpeg& Job) : FJob(Job), S(Job.FSettings) {}

TTranscoder::~TTranscoder() {
    if (FVStats) myutil.my_fclose(FVStats);
    for (auto& Enc : FEncoders)
        if (Enc->PassLog) myutil.my_fclose(Enc->PassLog);
    for (auto& Ost : FOutputs) lavu.av_channel_layout_uninit(&Ost.SwrInLayout);
}

void TCustomFFmpeg::Transcode() {
    TTranscoder Run(*this);
    Run.Run();
}

void TTranscoder::Fail(const std::string& Message, bool WithMapping) {
    if (WithMapping) ReportMapping();
    throw FFmpegException(Message);
}

void TTranscoder::Run() {
    FPacket = MakePacket();
    FOutPacket = MakePacket();
    if (!FPacket || !FOutPacket) Fail("av_mallocz fail");
    BuildInputTables();
    BuildOutputTables();
    MapStreams();
    PrepareCodecParameters();
    ChooseMeasuredStream();
    // Decoders open first: a text subtitle encoder needs the style header its decoder makes.
    OpenDecoders();
    OpenEncoders();
    for (TInputStreamState& Ist : FInputs) {
        Ist.Clock = TStreamClock{};
        Ist.IsStart = true;
    }
    MapMetadata();
    WriteHeaders();
    ReportMapping();
    FRunStart = lavu.av_gettime_relative();
    FCustomHookOn = static_cast<bool>(FJob.FOnCustomHook);
    FHooksActive = FJob.FrameHooksActive();
    PacketLoop();
    int64_t BytesRead = 0;
    for (int F = 0; F < FJob.FInputFileCount; ++F)
        if (const AVFormatContext* Ic = FJob.FInputFiles[F]; Ic && Ic->pb) BytesRead += Ic->pb->bytes_read;
    FJob.FInputBytesRead = BytesRead;
    Teardown();
}

void TTranscoder::BuildInputTables() {
    FInputFiles.resize(static_cast<size_t>(FJob.FInputFileCount));
    for (int F = 0; F < FJob.FInputFileCount; ++F) {
        AVFormatContext* Ic = FJob.FInputFiles[F];
        FInputFiles[F].FirstIndex = static_cast<int>(FInputs.size());
        FInputFiles[F].StreamCount = static_cast<int>(FJob.FInputCodecs[F].size());
        for (int I = 0; I < FInputFiles[F].StreamCount; ++I) {
            TInputStreamState Ist;
            Ist.FileIndex = F;
            Ist.StreamIndex = I;
            Ist.St = Ic->streams[I];
            if (S.RateEmu) Ist.StartWall = lavu.av_gettime_relative();
            Ist.Frame = MakeFrame();
            if (!Ist.Frame) Fail("av_mallocz fail");
            FInputs.push_back(std::move(Ist));
        }
    }
}

void TTranscoder::BuildOutputTables() {
    // A joined job holds one container in every slot; its streams are written once per input.
    FOutputFileCount = FJob.FJoined ? 1 : FJob.FOutputFileCount;
    int Total = 0;
    for (int F = 0; F < FOutputFileCount; ++F) {
        AVFormatContext* Oc = FJob.FOutputFiles[F];
        if (!Oc || Oc->nb_streams == 0) {
            DumpOutput(F);
            Fail(Format("Output file #%d does not contain any stream", F));
        }
        Total += static_cast<int>(Oc->nb_streams);
    }
    FStreamsPerFile = static_cast<int>(FJob.FOutputFiles[0]->nb_streams);
    const int Entries = FJob.FJoined ? FStreamsPerFile * FJob.FInputFileCount : Total;
    const int MapCount = static_cast<int>(FJob.FStreamMaps.size());
    if (MapCount > 0 && MapCount != Entries)
        Fail("Number of stream maps must match number of output streams");
    for (const TStreamMapEntry& M : FJob.FStreamMaps) {
        if (M.FileIndex < 0 || M.FileIndex >= FJob.FInputFileCount || M.StreamIndex < 0 ||
            M.StreamIndex >= FInputFiles[M.FileIndex].StreamCount)
            Fail(Format("Could not find input stream #%d.%d", M.FileIndex, M.StreamIndex));
        if (M.SyncFileIndex < 0 || M.SyncFileIndex >= FJob.FInputFileCount || M.SyncStreamIndex < 0 ||
            M.SyncStreamIndex >= FInputFiles[M.SyncFileIndex].StreamCount)
            Fail(Format("Could not find sync stream #%d.%d", M.SyncFileIndex, M.SyncStreamIndex));
    }
    for (int F = 0; F < FOutputFileCount; ++F) {
        AVFormatContext* Oc = FJob.FOutputFiles[F];
        for (unsigned K = 0; K < Oc->nb_streams; ++K) {
            auto Enc = std::make_unique<TEncoderState>();
            Enc->St = Oc->streams[K];
            Enc->Setup = &FJob.FOutputStreams[F][K];
            FEncoders.push_back(std::move(Enc));
        }
    }
    const int Groups = FJob.FJoined ? FJob.FInputFileCount : 1;
    for (int G = 0; G < Groups; ++G) {
        int Base = 0;
        for (int F = 0; F < FOutputFileCount; ++F) {
            AVFormatContext* Oc = FJob.FOutputFiles[F];
            for (unsigned K = 0; K < Oc->nb_streams; ++K) {
                TOutputStreamState Ost;
                Ost.FileIndex = F;
                Ost.Index = static_cast<int>(K);
                Ost.St = Oc->streams[K];
                Ost.Enc = FEncoders[static_cast<size_t>(Base) + K].get();
                FOutputs.push_back(std::move(Ost));
            }
            Base += static_cast<int>(Oc->nb_streams);
        }
    }
}

void TTranscoder::MapStreams() {
    const bool WithMaps = !FJob.FStreamMaps.empty();
    for (int N = 0; N < OutputStreamCount(); ++N) {
        TOutputStreamState& Ost = FOutputs[N];
        const AVMediaType Type = Ost.St->codecpar->codec_type;
        const int JoinFile = FJob.FJoined ? N / std::max(FStreamsPerFile, 1) : -1;
        int Source = -1;
        if (WithMaps) {
            const TStreamMapEntry& M = FJob.FStreamMaps[N];
            Source = FInputFiles[M.FileIndex].FirstIndex + M.StreamIndex;
            const AVMediaType InType = FInputs[Source].St->codecpar->codec_type;
            if (InType != Type) {
                DumpOutput(Ost.FileIndex);
                Fail(Format("Codec type mismatch for mapping #%d.%d (%s) -> #%d.%d (%s)", M.FileIndex,
                            M.StreamIndex, MediaTypeName(InType).c_str(), Ost.FileIndex, Ost.Index,
                            MediaTypeName(Type).c_str()));
            }
            Ost.SyncIndex = FInputFiles[M.SyncFileIndex].FirstIndex + M.SyncStreamIndex;
        } else if (const AVStream* Cover = Ost.Enc->Setup->Cover) {
            // The picture was chosen among these inputs when the stream was made.
            for (int I = 0; I < static_cast<int>(FInputs.size()) && Source < 0; ++I)
                if (FInputs[I].St == Cover) Source = I;
            if (Source < 0) Fail("Could not find the cover picture among the inputs");
            Ost.SyncIndex = Source;
        } else {
            auto Usable = [&](int Candidate) {
                const TInputStreamState& Ist = FInputs[Candidate];
                return Ist.Discard && Ist.St->codecpar->codec_type == Type &&
                       (JoinFile < 0 || Ist.FileIndex == JoinFile);
            };
            if (S.ProgramId != 0) {
                for (int F = 0; F < FJob.FInputFileCount && Source < 0; ++F) {
                    AVFormatContext* Ic = FJob.FInputFiles[F];
                    for (unsigned P = 0; P < Ic->nb_programs && Source < 0; ++P) {
                        if (Ic->programs[P]->id != S.ProgramId) continue;
                        for (unsigned I = 0; I < Ic->programs[P]->nb_stream_indexes && Source < 0; ++I) {
                            const int Candidate = FInputFiles[F].FirstIndex +
                                                  static_cast<int>(Ic->programs[P]->stream_index[I]);
                            if (Candidate < FInputFiles[F].FirstIndex + FInputFiles[F].StreamCount &&
                                Usable(Candidate))
                                Source = Candidate;
                        }
                    }
                }
            } else {
                for (int I = 0; I < static_cast<int>(FInputs.size()) && Source < 0; ++I)
                    if (Usable(I)) Source = I;
            }
            // Two outputs of one kind may share the last input of that kind.
            if (Source < 0 && S.ProgramId == 0 && !FJob.FJoined)
                for (int I = 0; I < static_cast<int>(FInputs.size()); ++I)
                    if (FInputs[I].St->codecpar->codec_type == Type) Source = I;
            if (Source < 0) {
                DumpOutput(Ost.FileIndex);
                Fail(Format("Could not find input stream matching output stream #%d.%d (%s)", Ost.FileIndex,
                            Ost.Index, MediaTypeName(Type).c_str()));
            }
            Ost.SyncIndex = Source;
        }
        Ost.SourceIndex = Source;
        // An attachment has its bytes already: its source needs no reading for it.
        if (!IsAttachment(Ost)) FInputs[Source].Discard = false;
    }
}

void TTranscoder::PrepareCodecParameters() {
    for (int N = 0; N < OutputStreamCount(); ++N) {
        TOutputStreamState& Ost = FOutputs[N];
        TInputStreamState& Ist = FInputs[Ost.SourceIndex];
        // In join mode the later entries write to the stream the first group prepared.
        if (FJob.FJoined && N >= FStreamsPerFile) {
            const TOutputStreamState& First = FOutputs[N % FStreamsPerFile];
            Ost.EncodingNeeded = First.EncodingNeeded;
            if (Ost.EncodingNeeded) Ist.DecodingNeeded = true;
            Ost.ResampleFlag = First.ResampleFlag;
            continue;
        }
        if (IsAttachment(Ost)) continue;
        AVStream* In = Ist.St;
        AVStream* Out = Ost.St;
        if (const AVDictionaryEntry* Lang = lavu.av_dict_get(In->metadata, "language", nullptr, 0))
            if (!lavu.av_dict_get(Out->metadata, "language", nullptr, 0))
                lavu.av_dict_set(&Out->metadata, "language", Lang->value, 0);
        Out->disposition = In->disposition;
        if (Ost.Enc->Setup->StreamCopy)
            PrepareStreamCopy(Ost, Ist);
        else
            PrepareEncoding(Ost, Ist, N);
    }
}

void TTranscoder::PrepareStreamCopy(TOutputStreamState& Ost, TInputStreamState& Ist) {
    AVCodecParameters* Out = Ost.St->codecpar;
    const AVCodecParameters* In = Ist.St->codecpar;
    const uint32_t ForcedTag = Ost.Enc->Setup->Codec->codec_tag;
    const AVMediaType Type = In->codec_type;
    switch (Type) {
        case AVMEDIA_TYPE_AUDIO:
            if (S.AudioVolume != 256) Fail("-acodec copy and -vol are incompatible (frames are not decoded)");
            break;
        case AVMEDIA_TYPE_VIDEO:
            // A cover picture is carried along as it is: it is never decoded, so neither hooks
            // nor the preview ever see it.
            if (Ist.St->disposition & AV_DISPOSITION_ATTACHED_PIC) break;
            if (FJob.FOnCustomHook)
                Fail("-vcodec copy and CustomHook are incompatible (frames are not decoded)");
            if (!S.VideoHooks.empty())
                Fail("-vcodec copy and -vhook are incompatible (frames are not decoded)");
            if (FJob.PreviewFlags() & 3)
                Fail("-vcodec copy and PostHooks are incompatible (frames are not decoded)");
            break;
        case AVMEDIA_TYPE_SUBTITLE:
            break;
        default:
            Fail("invalid codec_type of output stream");
    }
    if (lavc.avcodec_parameters_copy(Out, In) < 0) Fail("av_mallocz fail");
    const AVOutputFormat* Fmt = FJob.FOutputFiles[Ost.FileIndex]->oformat;
    uint32_t Tag = ForcedTag;
    if (!Tag) {
        // Keep the input's tag where the container can take it; otherwise the muxer picks one
        // (a tag the container maps to another codec would make the header fail).
        const uint32_t InTag = In->codec_tag;
        if (!Fmt->codec_tag || lavf.av_codec_get_id(Fmt->codec_tag, InTag) == In->codec_id ||
            lavf.av_codec_get_tag(Fmt->codec_tag, In->codec_id) == 0)
            Tag = InTag;
    }
    Out->codec_tag = Tag;
    Ost.St->time_base = Ist.St->time_base;
    if (Type == AVMEDIA_TYPE_AUDIO &&
        ((Out->codec_id == AV_CODEC_ID_MP3 && Out->block_align == 1) || Out->codec_id == AV_CODEC_ID_AC3))
        Out->block_align = 0;
    if (Type == AVMEDIA_TYPE_VIDEO) {
        Ost.St->sample_aspect_ratio = Ist.St->sample_aspect_ratio;
        Ost.St->avg_frame_rate = Ist.St->avg_frame_rate;
    }
    InitBitstreamFilters(*Ost.Enc, Out, Ist.St->time_base);
}

void TTranscoder::PrepareEncoding(TOutputStreamState& Ost, TInputStreamState& Ist, int Number) {
    AVCodecContext* Enc = Ost.Enc->Setup->Codec.get();
    switch (Ost.St->codecpar->codec_type) {
        case AVMEDIA_TYPE_VIDEO:
            PrepareVideoEncoding(Ost, Ist);
            break;
        case AVMEDIA_TYPE_AUDIO: {
            const AVCodecParameters* In = Ist.St->codecpar;
            if (Enc->sample_fmt == AV_SAMPLE_FMT_NONE)
                Enc->sample_fmt = static_cast<AVSampleFormat>(In->format);
            FitAudioToEncoder(*Ost.Enc->Setup);
            Ost.ResampleFlag = Enc->sample_rate != In->sample_rate || S.AudioSyncMethod > 1;
            Ost.EncodingNeeded = Ist.DecodingNeeded = true;
            break;
        }
        case AVMEDIA_TYPE_SUBTITLE:
            Ost.EncodingNeeded = Ist.DecodingNeeded = true;
            break;
        default:
            Fail("invalid codec_type of output stream");
    }
    if (Enc->flags & (AV_CODEC_FLAG_PASS1 | AV_CODEC_FLAG_PASS2)) OpenPassLog(Number, Ost);
}

void TTranscoder::FitAudioToEncoder(TOutputStreamSetup& Setup) {
    AVCodecContext* Ctx = Setup.Codec.get();
    const AVCodec* Codec = Setup.Encoder ? Setup.Encoder : lavc.avcodec_find_encoder(Ctx->codec_id);
    if (!Codec) return;  // the open reports the missing encoder
    const TAudioEncoderLimits Limits = AudioEncoderLimits(Codec);
    const std::string Before = ChannelLayoutName(Ctx->ch_layout);
    const int BeforeRate = Ctx->sample_rate;
    bool Changed = false;
    if (!Setup.ChannelsGiven && Ctx->ch_layout.nb_channels > 0) {
        AVChannelLayout Chosen{};
        NearestChannelLayout(Limits, Ctx->ch_layout, &Chosen);
        if (lavu.av_channel_layout_compare(&Chosen, &Ctx->ch_layout) != 0) {
            lavu.av_channel_layout_uninit(&Ctx->ch_layout);
            Ctx->ch_layout = Chosen;  // the context takes it over
            Changed = true;
        } else {
            lavu.av_channel_layout_uninit(&Chosen);
        }
    }
    if (!Setup.SampleRateGiven && Ctx->sample_rate > 0) {
        const int Rate = NearestSampleRate(Limits, Ctx->sample_rate);
        if (Rate != Ctx->sample_rate) {
            Ctx->sample_rate = Rate;
            Ctx->time_base = AVRational{1, Rate};
            Changed = true;
        }
    }
    if (Changed)
        GetLogger().Log(&FJob, llInfo,
                        Format("%s %d Hz -> %s %d Hz for %s", Before.c_str(), BeforeRate,
                               ChannelLayoutName(Ctx->ch_layout).c_str(), Ctx->sample_rate, Codec->name));
}

void TTranscoder::InitBitstreamFilters(TEncoderState& Enc, const AVCodecParameters* Source,
                                       AVRational TimeBase) {
    Enc.PacketTimeBase = TimeBase;
    const AVCodecParameters* Params = Source;
    for (const TBitstreamFilterSpec& Spec : Enc.Setup->Filters) {
        const AVBitStreamFilter* Filter = lavc.av_bsf_get_by_name(Spec.Name.c_str());
        AVBSFContext* Raw = nullptr;
        if (!Filter || lavc.av_bsf_alloc(Filter, &Raw) < 0) Fail("Unknown bitstream filter " + Spec.Name);
        TBsfPtr Ctx(Raw);
        if (lavc.avcodec_parameters_copy(Ctx->par_in, Params) < 0) Fail("av_mallocz fail");
        Ctx->time_base_in = Enc.PacketTimeBase;
        // "name=key=value:key=value" carries the filter's options.
        std::string Rest = Spec.Arguments;
        while (!Rest.empty()) {
            std::string Pair = SplitFirst(Rest, ":", true);
            const std::string Key = SplitFirst(Pair, "=", true);
            if (!Key.empty() && lavu.av_opt_set(Ctx->priv_data ? Ctx->priv_data : Ctx.get(), Key.c_str(),
                                                Pair.c_str(), 0) < 0)
                Fail(Format("Invalid option %s for bitstream filter %s", Key.c_str(), Spec.Name.c_str()));
        }
        if (lavc.av_bsf_init(Ctx.get()) < 0) Fail("Unknown bitstream filter " + Spec.Name);
        Enc.PacketTimeBase = Ctx->time_base_out;
        Params = Ctx->par_out;
        Enc.FilterNames.push_back(Spec.Name);
        Enc.Filters.push_back(std::move(Ctx));
    }
    // The muxer reads the stream parameters the last filter gives out.
    if (Params != Source && lavc.avcodec_parameters_copy(Enc.St->codecpar, Params) < 0)
        Fail("av_mallocz fail");
}

void TTranscoder::OpenEncoders() {
    for (int N = 0; N < OutputStreamCount(); ++N) {
        if (FJob.FJoined && N >= FStreamsPerFile) break;
        TOutputStreamState& Ost = FOutputs[N];
        if (!Ost.EncodingNeeded) continue;
        TEncoderState& Enc = *Ost.Enc;
        const AVCodec* Codec = Enc.Setup->Encoder;
        if (!Codec) Codec = lavc.avcodec_find_encoder(Enc.Setup->Codec->codec_id);
        if (!Codec)
            Fail(Format("Encoder (codec id %d) not found for output stream #%d.%d (%s)",
                        Enc.Setup->Codec->codec_id, Ost.FileIndex, Ost.Index, TypeName(Ost.St).c_str()),
                 true);
        AVCodecContext* Ctx = Enc.Setup->Codec.get();
        Ctx->codec_id = Codec->id;
        if (Codec->capabilities & AV_CODEC_CAP_EXPERIMENTAL)
            Ctx->strict_std_compliance = FF_COMPLIANCE_EXPERIMENTAL;
        const TOptionMediaType Kind = Ctx->codec_type == AVMEDIA_TYPE_AUDIO      ? omtAudio
                                      : Ctx->codec_type == AVMEDIA_TYPE_SUBTITLE ? omtSubtitle
                                                                                 : omtVideo;
        if (Ctx->codec_type == AVMEDIA_TYPE_SUBTITLE) {
            // Text encoders want the input's style header; the decoder left it there.
            const AVCodecContext* Dec = FInputs[Ost.SourceIndex].Decoder;
            if (Dec && Dec->subtitle_header && !Ctx->subtitle_header) {
                Ctx->subtitle_header = static_cast<uint8_t*>(lavu.av_mallocz(Dec->subtitle_header_size + 1));
                if (Ctx->subtitle_header) {
                    std::copy(Dec->subtitle_header, Dec->subtitle_header + Dec->subtitle_header_size,
                              Ctx->subtitle_header);
                    Ctx->subtitle_header_size = Dec->subtitle_header_size;
                }
            }
            Ctx->time_base = AV_TIME_BASE_Q;
        }
        if (Ctx->codec_type == AVMEDIA_TYPE_VIDEO)
            Ctx->thread_count = VideoEncoderThreadCount(Codec, Ctx->width, Ctx->height);
        Ctx->thread_count = LimitedThreadCount(Ctx->thread_count);
        TDictionary Options;
        if (Options.CopyFrom(FJob.PrivateCodecOptions(Kind)) < 0) throw FFmpegException("av_malloc failed");
        // A failed open clears the context's layout: name the reason while it is still there.
        const std::string Reason = AudioEncoderRefusal(Codec, Ctx);
        if (Ctx->codec_type == AVMEDIA_TYPE_AUDIO && !FJob.FJoined)
            Enc.Pristine = CopyEncoderSettings(Ctx, Codec);
        int Result;
        {
            TCodecLockGuard G;
            Result = lavc.avcodec_open2(Ctx, Codec, Options.Slot());
            if (Result >= 0) {
                TCodecNode Node;
                Node.Context = std::move(Enc.Setup->Codec);
                Node.Opened = true;
                Node.StatsIn = std::move(Enc.StatsIn);
                FJob.FEncoders.push_back(std::move(Node));
            }
        }
        if (Result < 0) {
            // The library says why only in its log; the message carries the reason we can name.
            Fail(Format("Error while opening encoder for output stream #%d.%d (%s) - maybe incorrect "
                        "parameters such "
                        "as bit_rate, rate, width or height",
                        Ost.FileIndex, Ost.Index, TypeName(Ost.St).c_str()) +
                     (Reason.empty() ? "" : ": " + Reason),
                 true);
        }
        Enc.Codec = Ctx;
        FHeaderBytes += Ctx->extradata_size;
        if (lavc.avcodec_parameters_from_context(Ost.St->codecpar, Ctx) < 0) Fail("av_mallocz fail");
        Ost.St->time_base = Ctx->time_base;
        if (Ctx->codec_type == AVMEDIA_TYPE_AUDIO) {
            Enc.Fifo.reset(lavu.av_audio_fifo_alloc(Ctx->sample_fmt, Ctx->ch_layout.nb_channels, 1024));
            Enc.EncodeFrame = MakeFrame();
            if (!Enc.Fifo || !Enc.EncodeFrame) Fail("av_fifo_alloc fail");
        }
        InitBitstreamFilters(Enc, Ost.St->codecpar, Ctx->time_base);
    }
}

void TTranscoder::OpenDecoders() {
    int Position = 0;
    for (TInputStreamState& Ist : FInputs) {
        const AVMediaType Type = Ist.St->codecpar->codec_type;
        const bool Listed = Type != AVMEDIA_TYPE_DATA;  // data streams have no decoder entry
        const AVCodec* Forced = Listed && Position < static_cast<int>(FJob.FInputDecoders.size())
                                    ? FJob.FInputDecoders[static_cast<size_t>(Position)]
                                    : nullptr;
        if (Listed) ++Position;
        if (!Ist.DecodingNeeded) continue;
        const AVCodec* Codec = Forced ? Forced : lavc.avcodec_find_decoder(Ist.St->codecpar->codec_id);
        if (!Codec)
            Fail(Format("Decoder (codec id %d) not found for input stream #%d.%d (%s)",
                        Ist.St->codecpar->codec_id, Ist.FileIndex, Ist.StreamIndex, TypeName(Ist.St).c_str()),
                 true);
        TCodecContextPtr& Slot = FJob.FInputCodecs[Ist.FileIndex][Ist.StreamIndex];
        if (!Slot) Fail("av_mallocz fail");
        AVCodecContext* Ctx = Slot.get();
        Ctx->pkt_timebase = Ist.St->time_base;
        Ctx->thread_count = LimitedThreadCount(Ctx->thread_count);
        int Result;
        {
            TCodecLockGuard G;
            Result = lavc.avcodec_open2(Ctx, Codec, nullptr);
            if (Result >= 0) {
                TCodecNode Node;
                Node.Context = std::move(Slot);
                Node.Opened = true;
                FJob.FDecoders.push_back(std::move(Node));
            }
        }
        if (Result < 0)
            Fail(Format("Error while opening decoder for input stream #%d.%d (%s)", Ist.FileIndex,
                        Ist.StreamIndex, TypeName(Ist.St).c_str()),
                 true);
        Ist.Decoder = Ctx;
    }
}

void TTranscoder::MapMetadata() {
    for (const TMetaDataMap& M : FJob.FMetaDataMaps) {
        if (M.OutFile < 0 || M.OutFile >= FJob.FOutputFileCount)
            Fail(Format("Invalid output file index %d map_meta_data(%d,%d)", M.OutFile, M.OutFile, M.InFile),
                 true);
        if (M.InFile < 0 || M.InFile >= FJob.FInputFileCount)
            Fail(Format("Invalid input file index %d map_meta_data(%d,%d)", M.InFile, M.OutFile, M.InFile),
                 true);
        AVFormatContext* Oc = FJob.FOutputFiles[M.OutFile];
        // What the job's own options set on the output (metadata=) is the user's word and
        // outranks the source's value of the same tag.
        TDictionary Given;
        if (Given.CopyFrom(Oc->metadata) < 0) Fail("av_malloc failed");
        const AVDictionaryEntry* E = nullptr;
        while ((E = lavu.av_dict_get(FJob.FInputFiles[M.InFile]->metadata, "", E, AV_DICT_IGNORE_SUFFIX)))
            if (lavu.av_dict_set(&Oc->metadata, E->key, E->value, 0) < 0) Fail("av_malloc failed");
        if (const AVStream* Audio = TaggedAudioStream(M.InFile, M.OutFile)) {
            // Ogg and some Matroska files keep the song's tags on the sound stream; the
            // container's own value of a key wins (the lookup ignores case, as the muxers do).
            E = nullptr;
            while ((E = lavu.av_dict_get(Audio->metadata, "", E, AV_DICT_IGNORE_SUFFIX))) {
                if (IsStreamOnlyTag(E->key) || lavu.av_dict_get(Oc->metadata, E->key, nullptr, 0)) continue;
                if (lavu.av_dict_set(&Oc->metadata, E->key, E->value, 0) < 0) Fail("av_malloc failed");
            }
        }
        E = nullptr;
        while ((E = lavu.av_dict_get(Given.Get(), "", E, AV_DICT_IGNORE_SUFFIX)))
            if (lavu.av_dict_set(&Oc->metadata, E->key, E->value, 0) < 0) Fail("av_malloc failed");
        UseGenericTagNames(Oc->metadata);
    }
}

void TTranscoder::UseGenericTagNames(AVDictionary*& Metadata) {
    // Vorbis-comment names that a Matroska file may carry as they are; the demuxers of Ogg and
    // FLAC already give the generic ones, which every muxer converts to its own.
    static const char* const kAliases[][2] = {
        {"TRACKNUMBER", "track"}, {"DISCNUMBER", "disc"}, {"ALBUMARTIST", "album_artist"}, {"YEAR", "date"}};
    for (const auto& [Alias, Generic] : kAliases) {
        const AVDictionaryEntry* E = lavu.av_dict_get(Metadata, Alias, nullptr, 0);
        if (!E || lavu.av_dict_get(Metadata, Generic, nullptr, 0)) continue;
        const std::string Value = E->value;
        if (lavu.av_dict_set(&Metadata, Alias, nullptr, 0) < 0 ||
            lavu.av_dict_set(&Metadata, Generic, Value.c_str(), 0) < 0)
            Fail("av_malloc failed");
    }
}

bool IsStreamOnlyTag(const char* Key) {
    static const char* const kStreamOnly[] = {"encoder",      "language",  "duration",
                                              "handler_name", "vendor_id", "encoder_options"};
    for (const char* Name : kStreamOnly)
        if (strcasecmp(Key, Name) == 0) return true;
    return false;
}

const AVStream* TTranscoder::TaggedAudioStream(int InFile, int OutFile) const {
    // The sound stream that feeds the output, else the input's first one.
    for (const TOutputStreamState& Ost : FOutputs) {
        if (Ost.FileIndex != OutFile) continue;
        const TInputStreamState& Ist = FInputs[Ost.SourceIndex];
        if (Ist.FileIndex == InFile && Ist.St->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) return Ist.St;
    }
    const AVFormatContext* Ic = FJob.FInputFiles[InFile];
    for (unsigned I = 0; I < Ic->nb_streams; ++I)
        if (Ic->streams[I]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) return Ic->streams[I];
    return nullptr;
}

void TTranscoder::WriteHeaders() {
    for (int F = 0; F < FOutputFileCount; ++F) {
        AVFormatContext* Oc = FJob.FOutputFiles[F];
        TDictionary Options;
        if (Options.CopyFrom(FJob.PrivateFormatOptions()) < 0) throw FFmpegException("av_malloc failed");
        if (lavf.avformat_write_header(Oc, Options.Slot()) < 0) {
            ReportMapping();
            const std::string Error =
                Format("Could not write header for output file #%d (incorrect codec parameters ?)", F);
            GetLogger().Log(&FJob, llError, Error);
            throw FFmpegException(Error);
        }
    }
    FHeadersWritten = true;
    bool AllRtp = FOutputFileCount > 0;
    for (int F = 0; F < FOutputFileCount; ++F)
        AllRtp = AllRtp && std::string(FJob.FOutputFiles[F]->oformat->name) == "rtp";
    if (AllRtp) {
        char Sdp[2048] = {0};
        if (lavf.av_sdp_create(FJob.FOutputFiles.data(), FOutputFileCount, Sdp, sizeof(Sdp)) < 0)
            GetLogger().Log(&FJob, llWarning, "Could not create the SDP description");
        else
            GetLogger().Log(&FJob, llInfo, "SDP:\r\n" + Trim(Sdp));
    }
}

void TTranscoder::DumpOutput(int File) {
    AVFormatContext* Oc = FJob.FOutputFiles[File];
    if (!Oc) return;
    // The output is written under a temporary name until it is finished; the user knows it by
    // its own.
    const std::u16string& Name = FJob.FOutputFileNames[File];
    const std::string URL = !Name.empty() ? FileNameToURL(Name) : Oc->url ? Oc->url : "";
    lavf.av_dump_format(Oc, File, URL.c_str(), 1);
}

void TTranscoder::ReportMapping() {
    for (int F = 0; F < FOutputFileCount; ++F) DumpOutput(F);
    if (S.Verbose < 0) return;
    GetLogger().Log(&FJob, llVerbose, "Stream mapping:");
    for (const TOutputStreamState& Ost : FOutputs) {
        const TInputStreamState& Src = FInputs[Ost.SourceIndex];
        const std::string Type = TypeName(Ost.St);
        GetLogger().Log(&FJob, llVerbose,
                        Format("  Stream #%d.%d -> #%d.%d (%s)", Src.FileIndex, Src.StreamIndex,
                               FJob.FJoined ? 0 : Ost.FileIndex, Ost.Index, Type.c_str()));
        if (Ost.SyncIndex != Ost.SourceIndex) {
            const TInputStreamState& Sync = FInputs[Ost.SyncIndex];
            GetLogger().Log(&FJob, llVerbose,
                            Format(" [sync #%d.%d (%s)]", Sync.FileIndex, Sync.StreamIndex, Type.c_str()));
        }
    }
}

}  // namespace zembra
