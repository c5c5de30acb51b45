#include "engine/Mp4FreeformTags.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "util/StringUtils.h"

namespace zembra {

namespace {

using TBytes = std::vector<uint8_t>;

struct TFileCloser {
    void operator()(std::FILE* F) const { std::fclose(F); }
};
using TFilePtr = std::unique_ptr<std::FILE, TFileCloser>;

class TBadFile : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

uint32_t Read32(const uint8_t* P) {
    return (uint32_t(P[0]) << 24) | (uint32_t(P[1]) << 16) | (uint32_t(P[2]) << 8) | P[3];
}
uint64_t Read64(const uint8_t* P) {
    return (uint64_t(Read32(P)) << 32) | Read32(P + 4);
}
void Put32(TBytes& B, uint32_t V) {
    for (int S = 24; S >= 0; S -= 8) B.push_back(static_cast<uint8_t>(V >> S));
}
void Write32(uint8_t* P, uint32_t V) {
    for (int I = 0; I < 4; ++I) P[I] = static_cast<uint8_t>(V >> (24 - 8 * I));
}
void Write64(uint8_t* P, uint64_t V) {
    Write32(P, static_cast<uint32_t>(V >> 32));
    Write32(P + 4, static_cast<uint32_t>(V));
}

// A box of the movie: a container's children, or a leaf's payload as it stands. Full boxes
// among the containers (meta) keep their version and flags in Prefix.
struct TBox {
    std::string Type;
    TBytes Prefix;
    TBytes Payload;
    std::vector<TBox> Children;
    bool Container = false;
};

bool IsContainer(const std::string& Type) {
    for (const char* C : {"moov", "trak", "mdia", "minf", "stbl", "udta", "meta", "ilst", "edts", "dinf"})
        if (Type == C) return true;
    return false;
}

std::vector<TBox> ParseBoxes(const uint8_t* P, size_t Size, int Depth);

TBox ParseBox(const std::string& Type, const uint8_t* P, size_t Size, int Depth) {
    TBox Box;
    Box.Type = Type;
    if (!IsContainer(Type)) {
        Box.Payload.assign(P, P + Size);
        return Box;
    }
    Box.Container = true;
    size_t Skip = 0;
    // The ISO meta box is a full box; QuickTime's has its handler right away.
    if (Type == "meta" && !(Size >= 8 && std::memcmp(P + 4, "hdlr", 4) == 0)) Skip = 4;
    if (Size < Skip) throw TBadFile("a meta box is cut short");
    Box.Prefix.assign(P, P + Skip);
    Box.Children = ParseBoxes(P + Skip, Size - Skip, Depth + 1);
    return Box;
}

std::vector<TBox> ParseBoxes(const uint8_t* P, size_t Size, int Depth) {
    if (Depth > 16) throw TBadFile("boxes nested too deep");
    std::vector<TBox> Boxes;
    size_t At = 0;
    while (At + 8 <= Size) {
        uint64_t Length = Read32(P + At);
        size_t Header = 8;
        if (Length == 1) {
            if (At + 16 > Size) throw TBadFile("a box header is cut short");
            Length = Read64(P + At + 8);
            Header = 16;
        } else if (Length == 0) {
            Length = Size - At;
        }
        if (Length < Header || Length > Size - At) throw TBadFile("a box runs past its parent");
        const std::string Type(reinterpret_cast<const char*>(P + At + 4), 4);
        Boxes.push_back(ParseBox(Type, P + At + Header, static_cast<size_t>(Length) - Header, Depth));
        At += static_cast<size_t>(Length);
    }
    return Boxes;
}

void Serialize(const TBox& Box, TBytes& Out) {
    const size_t Start = Out.size();
    Put32(Out, 0);
    Out.insert(Out.end(), Box.Type.begin(), Box.Type.end());
    Out.insert(Out.end(), Box.Prefix.begin(), Box.Prefix.end());
    if (Box.Container)
        for (const TBox& Child : Box.Children) Serialize(Child, Out);
    else
        Out.insert(Out.end(), Box.Payload.begin(), Box.Payload.end());
    const uint64_t Length = Out.size() - Start;
    if (Length > UINT32_MAX) throw TBadFile("the movie box grows past 4 GiB");
    Write32(Out.data() + Start, static_cast<uint32_t>(Length));
}

TBox* Child(TBox& Parent, const char* Type) {
    for (TBox& C : Parent.Children)
        if (C.Type == Type) return &C;
    return nullptr;
}

TBox& ChildOrNew(TBox& Parent, const char* Type) {
    if (TBox* Found = Child(Parent, Type)) return *Found;
    TBox Box;
    Box.Type = Type;
    Box.Container = IsContainer(Type);
    if (Box.Type == "meta") {
        Box.Prefix.assign(4, 0);
        // An item list is read only under a metadata handler.
        TBox Handler;
        Handler.Type = "hdlr";
        Handler.Payload.assign(8, 0);
        for (const char C : std::string("mdirappl")) Handler.Payload.push_back(static_cast<uint8_t>(C));
        Handler.Payload.resize(Handler.Payload.size() + 9, 0);  // reserved words, empty name
        Box.Children.push_back(std::move(Handler));
    }
    Parent.Children.push_back(std::move(Box));
    return Parent.Children.back();
}

// The name of a freeform item's payload, or empty for another kind of payload.
std::string FreeformName(const TBox& Item) {
    std::vector<TBox> Parts;
    try {
        Parts = ParseBoxes(Item.Payload.data(), Item.Payload.size(), 0);
    } catch (const TBadFile&) {
        return "";
    }
    for (const TBox& Part : Parts)
        if (Part.Type == "name" && Part.Payload.size() >= 4)
            return std::string(Part.Payload.begin() + 4, Part.Payload.end());
    return "";
}

TBox FreeformItem(const std::string& Name, const std::string& Value) {
    TBox Item;
    Item.Type = "----";
    auto Part = [&](const char* Type, const TBytes& Head, const std::string& Text) {
        TBox P;
        P.Type = Type;
        P.Payload = Head;
        P.Payload.insert(P.Payload.end(), Text.begin(), Text.end());
        Serialize(P, Item.Payload);
    };
    Part("mean", TBytes(4, 0), "com.apple.iTunes");
    Part("name", TBytes(4, 0), Name);
    Part("data", {0, 0, 0, 1, 0, 0, 0, 0}, Value);  // UTF-8 text, no locale
    return Item;
}

void SetItems(TBox& Moov, const TTagList& Tags) {
    TBox& List = ChildOrNew(ChildOrNew(ChildOrNew(Moov, "udta"), "meta"), "ilst");
    std::erase_if(List.Children, [&](const TBox& Item) {
        if (Item.Type != "----") return false;
        const std::string Name = FreeformName(Item);
        return std::any_of(Tags.begin(), Tags.end(),
                           [&](const auto& Tag) { return SameText(Tag.first, Name); });
    });
    for (const auto& [Name, Value] : Tags) List.Children.push_back(FreeformItem(Name, Value));
}

// Media data that follows the movie box moves by Delta bytes: every chunk offset into it too.
void MoveChunkOffsets(TBox& Box, uint64_t From, int64_t Delta) {
    for (TBox& C : Box.Children) {
        if (C.Container) {
            MoveChunkOffsets(C, From, Delta);
            continue;
        }
        const bool Wide = C.Type == "co64";
        if (C.Type != "stco" && !Wide) continue;
        if (C.Payload.size() < 8) throw TBadFile("a chunk offset table is cut short");
        const uint64_t Count = Read32(C.Payload.data() + 4);
        const size_t Width = Wide ? 8 : 4;
        if (Count > (C.Payload.size() - 8) / Width) throw TBadFile("a chunk offset table is cut short");
        for (uint64_t I = 0; I < Count; ++I) {
            uint8_t* P = C.Payload.data() + 8 + I * Width;
            const uint64_t Offset = Wide ? Read64(P) : Read32(P);
            if (Offset < From) continue;
            const uint64_t Moved = Offset + static_cast<uint64_t>(Delta);
            if (Wide)
                Write64(P, Moved);
            else if (Moved > UINT32_MAX)
                throw TBadFile("a chunk offset would pass 4 GiB");
            else
                Write32(P, static_cast<uint32_t>(Moved));
        }
    }
}

struct TTopBox {
    std::string Type;
    uint64_t Offset = 0;
    uint64_t Length = 0;  // header included
    size_t Header = 8;
};

std::vector<TTopBox> TopLevelBoxes(std::FILE* F, uint64_t FileSize) {
    std::vector<TTopBox> Boxes;
    uint64_t At = 0;
    while (At + 8 <= FileSize) {
        uint8_t Head[16];
        if (std::fseek(F, static_cast<long>(At), SEEK_SET) != 0 || std::fread(Head, 1, 8, F) != 8)
            throw TBadFile("cannot read a box header");
        TTopBox Box;
        Box.Type.assign(reinterpret_cast<const char*>(Head + 4), 4);
        Box.Offset = At;
        Box.Length = Read32(Head);
        if (Box.Length == 1) {
            if (std::fread(Head + 8, 1, 8, F) != 8) throw TBadFile("cannot read a box header");
            Box.Length = Read64(Head + 8);
            Box.Header = 16;
        } else if (Box.Length == 0) {
            Box.Length = FileSize - At;
        }
        if (Box.Length < Box.Header || Box.Length > FileSize - At)
            throw TBadFile("a box runs past the file's end");
        Boxes.push_back(Box);
        At += Box.Length;
    }
    return Boxes;
}

void CopyRange(std::FILE* In, std::FILE* Out, uint64_t Offset, uint64_t Length) {
    if (std::fseek(In, static_cast<long>(Offset), SEEK_SET) != 0) throw TBadFile("cannot read the file");
    std::vector<char> Buffer(1 << 16);
    while (Length > 0) {
        const size_t N = static_cast<size_t>(std::min<uint64_t>(Length, Buffer.size()));
        if (std::fread(Buffer.data(), 1, N, In) != N) throw TBadFile("cannot read the file");
        if (std::fwrite(Buffer.data(), 1, N, Out) != N) throw std::runtime_error(std::strerror(errno));
        Length -= N;
    }
}

}  // namespace

std::string WriteMp4FreeformTags(const std::string& Source, const std::string& Target, const TTagList& Tags) {
    try {
        TFilePtr In(std::fopen(Source.c_str(), "rb"));
        if (!In) return std::strerror(errno);
        if (std::fseek(In.get(), 0, SEEK_END) != 0) return "cannot read the file";
        const long End = std::ftell(In.get());
        if (End < 0) return "cannot read the file";
        const std::vector<TTopBox> Boxes = TopLevelBoxes(In.get(), static_cast<uint64_t>(End));
        const auto Moov =
            std::find_if(Boxes.begin(), Boxes.end(), [](const TTopBox& B) { return B.Type == "moov"; });
        if (Moov == Boxes.end()) return "no movie box";
        TBytes Body(static_cast<size_t>(Moov->Length - Moov->Header));
        if (std::fseek(In.get(), static_cast<long>(Moov->Offset + Moov->Header), SEEK_SET) != 0 ||
            std::fread(Body.data(), 1, Body.size(), In.get()) != Body.size())
            return "cannot read the movie box";
        TBox Movie = ParseBox("moov", Body.data(), Body.size(), 0);
        SetItems(Movie, Tags);
        TBytes Written;
        Serialize(Movie, Written);
        const int64_t Delta = static_cast<int64_t>(Written.size()) - static_cast<int64_t>(Moov->Length);
        if (Delta != 0 &&
            std::any_of(Moov + 1, Boxes.end(), [](const TTopBox& B) { return B.Type == "mdat"; })) {
            MoveChunkOffsets(Movie, Moov->Offset + Moov->Length, Delta);
            Written.clear();
            Serialize(Movie, Written);
        }
        TFilePtr Out(std::fopen(Target.c_str(), "wb"));
        if (!Out) return std::strerror(errno);
        for (const TTopBox& Box : Boxes) {
            if (&Box == &*Moov) {
                if (std::fwrite(Written.data(), 1, Written.size(), Out.get()) != Written.size())
                    return std::strerror(errno);
            } else {
                CopyRange(In.get(), Out.get(), Box.Offset, Box.Length);
            }
        }
        if (std::fflush(Out.get()) != 0) return std::strerror(errno);
        if (std::fclose(Out.release()) != 0) return std::strerror(errno);
        return "";
    } catch (const std::exception& E) {
        return E.what();
    }
}

}  // namespace zembra
