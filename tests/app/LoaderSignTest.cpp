// Hashed and signed release sets as the download run meets them, served by a
// real loopback server: a good set is put in place; a damaged or swapped
// file, a list altered after signing, and a missing, broken, foreign or
// stale signature are each refused with their message, with nothing of it
// unpacked and nothing to start. The keys and signatures are made here with
// CNG, as qmpack.exe makes them.
#include "LoaderRunFixture.h"

#include "app/Extra.h"
#include "release/SignatureCng.h"
#include "release/Sha256Cng.h"

namespace qm::test {
namespace {

constexpr const char* NotVerified = "The file list could not be verified: ";
constexpr const char* Mismatch = "its signature does not match it (altered, or signed with another key).";
constexpr const char* Damaged =
    "Failed : 200 The file was damaged or altered on its way: its SHA-256 hash is not the one in the file list";

struct TServedFile {
    std::string Remote, Bytes, Target;
    bool Compressed;
    std::string Plain; // what the target must hold
};

// Three files: two plain ones of the same size and a compressed one.
struct TSignedSetTest : LoaderRunTest {
    const TPrivateKey key = GenerateReleaseKey();
    std::vector<TServedFile> files = [] {
        const std::string one = std::string(5000, '1') + "one";
        const std::string two = std::string(5000, '2') + "two";
        const std::string core = std::string(30000, 'c') + "core";
        return std::vector<TServedFile>{{"one.txt", one, "{prog}\\one.out", false, one},
                                        {"core.lzh", Compressed(core), "{prog}\\core.bin", true, core},
                                        {"two.txt", two, "{prog}\\two.out", false, two}};
    }();

    // The list line of File; Edit may change its fields before they are
    // joined (0-based, field 6 the hash).
    static std::string Line(const TServedFile& File, bool WithHash = true,
                            const std::function<void(std::vector<std::string>&)>& Edit = {})
    {
        std::vector<std::string> fields{File.Remote,   std::to_string(File.Bytes.size()),
                                        std::to_string(File.Plain.size()), File.Remote,
                                        File.Target,   File.Compressed ? "yes" : ""};
        if (WithHash)
            fields.insert(fields.end(), {HexText(TSha256::Of(File.Bytes)), HexText(TSha256::Of(File.Plain))});
        if (Edit)
            Edit(fields);
        std::string line;
        for (const std::string& f : fields)
            line += (line.empty() ? "" : "\t") + f;
        return line;
    }
    std::string List(bool WithHash = true) const
    {
        std::vector<std::string> lines;
        for (const TServedFile& f : files)
            lines.push_back(Line(f, WithHash));
        return ListText(lines);
    }
    static std::string Sign(const std::string& List, const TPrivateKey& Key, std::uint64_t Sequence = 1,
                            std::optional<std::int64_t> Expires = std::nullopt,
                            const std::vector<std::string>& Mirrors = {})
    {
        return FormatListSignature(
            {Sequence, Expires, SignRelease(Key, SignedListData(List, Sequence, Expires, Mirrors)), Mirrors});
    }
    // Serves the set (Files mode): the list, its signature unless none
    // (then 404 until a signature is served), and every file.
    void Serve(const std::string& List, const std::optional<std::string>& Signature)
    {
        Server.AddFile("list.txt", List);
        if (Signature)
            Server.AddFile("list.txt.sig", *Signature);
        for (const TServedFile& f : files)
            Server.AddFile(f.Remote, f.Bytes);
    }
    void UseKey(const std::optional<TPrivateKey>& Key)
    {
        ReleasePublicKey = Key ? FormatPublicKey(PublicKeyOf(*Key)) : "";
        Restart();
    }
    // The messages of a run of List signed with Sequence.
    std::vector<std::string> RunWith(const std::string& List, std::uint64_t Sequence)
    {
        Boxes.Shown.clear();
        Serve(List, Sign(List, key, Sequence));
        Form->SBStart.Click();
        return Boxes.Texts();
    }
    const std::vector<std::string> Finished{"Transfer finished."};
    static std::vector<std::string> OlderThan(int Sequence, int Kept)
    {
        return {NotVerified + std::string("it is older than the list verified here before (sequence ") + std::to_string(Sequence) +
                " against " + std::to_string(Kept) + "); an old list may be replayed by someone on the way."};
    }
    void ExpectPlaced(std::size_t I) const
    {
        const std::string name = FileNameOf(files[I].Target);
        EXPECT_EQ(ReadWholeFile(Prog(name)), files[I].Plain) << name;
    }
    void ExpectNothingPlaced() const
    {
        for (const TServedFile& f : files)
            EXPECT_FALSE(FileExists(Prog(FileNameOf(f.Target)))) << f.Target;
        EXPECT_EQ(RowImages(), std::vector<int>(static_cast<std::size_t>(Form->LV.Count()), 0));
    }
    // A fresh download directory for the next case.
    void Clean()
    {
        Boxes.Shown.clear();
        for (const TServedFile& f : files) {
            DeleteFileA(Prog(FileNameOf(f.Target)).c_str());
            DeleteFileA(Prog(f.Remote).c_str());
        }
    }
};

// With a key and without: a good set is put in place, and a rerun with
// every target complete fetches the list (and its signature) only.
TEST_F(TSignedSetTest, AGoodSetIsPutInPlaceWithAKeyAndWithout)
{
    for (const bool keyed : {true, false}) {
        SCOPED_TRACE(keyed ? "with a key" : "without a key");
        UseKey(keyed ? std::optional(key) : std::nullopt);
        Clean();
        const std::size_t before = Server.Requests().size();
        Serve(List(), Sign(List(), key));
        Form->SBStart.Click();
        EXPECT_EQ(Boxes.Texts(), std::vector<std::string>{"Transfer finished."});
        ExpectComplete();
        for (std::size_t i = 0; i < files.size(); ++i)
            ExpectPlaced(i);
        Boxes.Shown.clear();
        Restart();
        Form->SBStart.Click();
        std::vector<std::string> names = Requested();
        names.erase(names.begin(), names.begin() + static_cast<std::ptrdiff_t>(before));
        std::vector<std::string> expected{"list.txt", "one.txt", "core.lzh", "two.txt", "list.txt"};
        if (keyed)
            expected = {"list.txt", "list.txt.sig", "one.txt", "core.lzh", "two.txt", "list.txt", "list.txt.sig"};
        EXPECT_EQ(names, expected);
    }
}

// Signature faults stop the run before any row is acted on: only list.txt
// and list.txt.sig are asked for, nothing is placed, and the window is idle.
TEST_F(TSignedSetTest, AListThatCannotBeVerifiedIsRefusedBeforeAnyDownload)
{
    UseKey(key);
    const TPrivateKey other = GenerateReleaseKey();
    const std::string good = List();
    const auto edited = [&](std::size_t Field, const std::string& Value) {
        return ListText({Line(files[0], true, [&](auto& f) { f[Field] = Value; }), Line(files[1]), Line(files[2])});
    };
    const std::string older = ListText({Line(files[0]), Line(files[1])});
    const std::string signature = Sign(good, key);
    // The first case runs while the server has no list.txt.sig yet.
    const struct {
        const char* Name;
        std::string List;
        std::optional<std::string> Signature;
        std::string Message;
    } cases[] = {
        {"no signature", good, std::nullopt, "list.txt.sig could not be fetched: Failed : 404 Not Found"},
        {"a size edited", edited(2, "5004"), signature, Mismatch},
        {"a target edited", edited(4, "{sys}\\one.out"), signature, Mismatch},
        {"a hash edited", edited(6, HexText(TSha256::Of(files[2].Bytes))), signature, Mismatch},
        {"an empty signature", good, "",
         "not a signature file: its first line is not \"QMSIG 2 ecdsa-p256-sha256\"."},
        {"a truncated signature", good, signature.substr(0, 100),
         "the signature file's fourth line is not 128 hex digits."},
        {"another key's signature", good, Sign(good, other), Mismatch},
        {"the signature of an older list", good, Sign(older, key), Mismatch},
        {"a signed list without hashes", List(false), Sign(List(false), key),
         "line 1 carries no SHA-256 hash of its file."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Restart();
        Clean();
        const std::size_t before = Server.Requests().size();
        Serve(c.List, c.Signature);
        Form->SBStart.Click();
        EXPECT_EQ(Boxes.Texts(), std::vector<std::string>{NotVerified + c.Message});
        std::vector<std::string> names = Requested();
        names.erase(names.begin(), names.begin() + static_cast<std::ptrdiff_t>(before));
        EXPECT_EQ(names, (std::vector<std::string>{"list.txt", "list.txt.sig"}));
        ExpectIdle();
        ExpectNothingPlaced();
    }
}

// A list signed earlier than the one verified here before, or whose
// signature has expired, is refused before any download; the list kept from
// the earlier run stays as it was, and a list that fails to verify never
// replaces it.
TEST_F(TSignedSetTest, AnOlderOrExpiredListIsRefusedAndTheKeptListStays)
{
    UseKey(key);
    Serve(List(), Sign(List(), key, 5));
    Form->SBStart.Click();
    ASSERT_EQ(Boxes.Texts(), std::vector<std::string>{"Transfer finished."});
    const std::string older = ListText({Line(files[0]), Line(files[1])});
    const char* replayed = "; an old list may be replayed by someone on the way.";
    const struct {
        const char* Name;
        std::string Signature;
        std::string Message;
    } cases[] = {
        {"sequence 4 after 5", Sign(older, key, 4),
         std::string("it is older than the list verified here before (sequence 4 against 5)") + replayed},
        {"expired", Sign(older, key, 6, 1000000000),
         std::string("its signature has expired (it was valid until 2001-09-09 01:46:40 UTC)") + replayed},
        {"signed for another list", Sign(List(), key, 6), Mismatch},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        Restart();
        Boxes.Shown.clear();
        Serve(older, c.Signature);
        Form->SBStart.Click();
        EXPECT_EQ(Boxes.Texts(), std::vector<std::string>{NotVerified + c.Message});
        EXPECT_EQ(ReadWholeFile(Prog("list.txt")), List());
        ExpectIdle();
    }
    // Killed between the pair's renames (7's signature beside list 5): the kept sequence still refuses 6.
    const std::string floor = Dir.Path + "\\QMLoader.seq";
    EXPECT_EQ(ReadWholeFile(floor), FormatKeptSequence(5));
    WriteTextFile(Prog("list.txt.sig"), Sign(older, key, 7));
    WriteTextFile(floor, FormatKeptSequence(7));
    EXPECT_EQ(RunWith(older, 6), OlderThan(6, 7));
    // The downloads deleted at close: the floor beside the log still holds.
    EXPECT_EQ(RunWith(List(), 7), Finished);
    Boxes.Answers = {IDYES};
    Form->Close();
    Restart();
    EXPECT_EQ(RunWith(older, 6), OlderThan(6, 7));
    // A folder of an earlier version: its list.txt.seq is read once, then kept beside the log.
    DeleteFileA(floor.c_str());
    WriteTextFile(Prog("list.txt.seq"), FormatKeptSequence(9));
    EXPECT_EQ(RunWith(older, 8), OlderThan(8, 9));
    EXPECT_EQ(RunWith(older, 9), Finished);
    EXPECT_EQ(ReadWholeFile(floor) + (FileExists(Prog("list.txt.seq")) ? "and the old" : ""), FormatKeptSequence(9));
}

// In a fresh folder a list of sequence 6 is taken, unless the program was
// built with QM_MIN_SEQUENCE=7 (test_loader_floor).
TEST_F(TSignedSetTest, ABuiltInFloorRefusesAnOlderListInAFreshFolder)
{
    UseKey(key);
    EXPECT_EQ(RunWith(List(), 6), BuiltInMinSequence() == 0 ? Finished : OlderThan(6, 7));
}

// Version 2 changes a plain and a compressed file, sizes kept, and adds one: exactly those three are
// fetched (and the setup file, as in every run); the user's own file stays; a third run fetches no file.
TEST_F(TSignedSetTest, AnUpdateReplacesWhatChangedAndNothingElse)
{
    UseKey(key);
    files.push_back({"SETUP.IN_", "[setup]", "{prog}\\SETUP.INI", false, "[setup]"});
    WriteTextFile(Prog("mine.txt"), "the user's own");
    const std::vector<std::string> runs[] = {{"one.txt", "core.lzh", "two.txt", "SETUP.IN_"},
                                             {"one.txt", "core.lzh", "SETUP.IN_", "new.txt"}, {"SETUP.IN_"}};
    for (std::uint64_t sequence = 1; const std::vector<std::string>& fetched : runs) {
        if (sequence == 2) { // version 2
            files[0].Bytes = files[0].Plain = std::string(5000, '1') + "ONE";
            files[1].Bytes = Compressed(files[1].Plain = std::string(30000, 'c') + "CORE");
            files.push_back({"new.txt", "new", "{prog}\\new.out", false, "new"});
        }
        Restart();
        const std::size_t before = Server.Requests().size();
        EXPECT_EQ(RunWith(List(), sequence++), Finished);
        std::vector<std::string> names = Requested();
        names.erase(names.begin(), names.begin() + static_cast<std::ptrdiff_t>(before) + 2); // list.txt and its signature
        EXPECT_EQ(names, fetched);
        for (const TServedFile& f : files)
            EXPECT_EQ(ReadWholeFile(Prog(FileNameOf(f.Target))), f.Plain) << f.Target;
        EXPECT_EQ(ReadWholeFile(Prog("mine.txt")), "the user's own");
    }
    const std::string log = ReadWholeFile(Dir.Path + "\\QMLoader.log");
    EXPECT_NE(log.find("at load: " + Prog("one.out") + ": different: SHA-256"), std::string::npos);
    EXPECT_NE(log.find("at load: " + Prog("two.out") + ": in place (size and SHA-256)"), std::string::npos);
}

// A file that is not what the list's hash says is a failed download: the
// files before it are in place, it is deleted and not unpacked, the run
// stops there, and the window waits for Cancel. The same holds without a key.
TEST_F(TSignedSetTest, AFileUnlikeItsHashIsAFailedDownload)
{
    std::string flipped = files[1].Bytes;
    flipped[flipped.size() / 2] = static_cast<char>(flipped[flipped.size() / 2] ^ 0x20);
    const struct {
        const char* Name;
        bool Keyed;
        std::size_t File;
        std::string Bytes;
    } cases[] = {
        {"one byte changed", true, 1, flipped},
        {"swapped for a file of the same size", true, 0, files[2].Bytes},
        {"one byte changed, no key", false, 1, flipped},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        UseKey(c.Keyed ? std::optional(key) : std::nullopt);
        Clean();
        Serve(List(), Sign(List(), key));
        Server.AddFile(files[c.File].Remote, c.Bytes);
        Form->SBStart.Click();
        EXPECT_EQ(Boxes.Texts(), std::vector<std::string>{Damaged});
        ExpectTransferring();
        EXPECT_FALSE(FileExists(Prog(files[c.File].Remote)));
        EXPECT_FALSE(FileExists(Prog("unfinished.qm-part\\" + files[c.File].Remote + ".qm-part")));
        for (std::size_t i = 0; i < files.size(); ++i)
            if (i < c.File)
                ExpectPlaced(i);
            else
                EXPECT_FALSE(FileExists(Prog(FileNameOf(files[i].Target))));
        EXPECT_EQ(Form->LV.ImageIndex(static_cast<int>(c.File)), 0);
        Form->SBCancel.Click();
        ExpectIdle();
    }
}

// Without a key, a list without hashes runs as ever (no signature is asked
// for), and a hash that is not 64 hex digits is a bad line.
TEST_F(TSignedSetTest, WithoutAKeyHashesAreOptionalButMustBeWellFormed)
{
    Serve(List(false), std::nullopt);
    Form->SBStart.Click();
    EXPECT_EQ(Boxes.Texts(), std::vector<std::string>{"Transfer finished."});
    for (std::size_t i = 0; i < files.size(); ++i)
        ExpectPlaced(i);
    EXPECT_EQ(Requested(), (std::vector<std::string>{"list.txt", "one.txt", "core.lzh", "two.txt"}));

    for (const std::string& bad :
         {std::string("abc"), std::string(63, 'a'), std::string(63, 'a') + "g", std::string(65, 'A')}) {
        SCOPED_TRACE(bad);
        Restart();
        Clean();
        const std::size_t before = Server.Requests().size();
        Server.AddFile("list.txt", ListText({Line(files[0]), Line(files[1], true, [&](auto& f) { f[6] = bad; })}));
        Form->SBStart.Click();
        EXPECT_EQ(Boxes.Texts(), std::vector<std::string>{"The SHA-256 hash in line 2 of the file list is not 64 "
                                                          "hex digits: \"" + bad + "\""});
        EXPECT_EQ(Server.Requests().size() - before, 1u);
        ExpectIdle();
    }
}

// A list signed with a mirror: the file the server lacks comes from the mirror.
TEST_F(TSignedSetTest, AFileMissingOnTheServerComesFromTheSignedMirror)
{
    UseKey(key);
    TScriptedServer mirror;
    mirror.AddFile(files[2].Remote, files[2].Bytes);
    Server.AddFile("list.txt", List());
    Server.AddFile("list.txt.sig", Sign(List(), key, 1, std::nullopt, {"http://" + mirror.Address() + "/"}));
    for (std::size_t i = 0; i < 2; ++i)
        Server.AddFile(files[i].Remote, files[i].Bytes);
    Form->SBStart.Click();
    EXPECT_EQ(Boxes.Texts(), std::vector<std::string>{"Transfer finished."});
    for (std::size_t i = 0; i < files.size(); ++i)
        ExpectPlaced(i);
    EXPECT_EQ(mirror.Requests().size(), 1u);
}

} // namespace
} // namespace qm::test
