// Reading a large answer through RecordsetReader and the field readers (the
// trace off, as after start-up) against a plain loop over the same decoded
// rows. Prints rows per second, the ratio, and the peak memory per row.
//   recordset_bench [--rows N]
#include "service/recordset_reader.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

long PeakKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

RecordsetPtr MakeAnswer(std::size_t rows) {
    auto recordset = std::make_unique<Recordset>(std::vector<FieldDef>{{"ID", adInteger, 4},
                                                                       {"Name", adVarWChar, 255},
                                                                       {"TimeSpent", adBigInt, 8},
                                                                       {"KeyboardEvents", adDouble, 8},
                                                                       {"MouseEvents", adDouble, 8}});
    recordset->Reserve(rows);
    for (std::size_t i = 0; i < rows; ++i) {
        std::u16string name = u"Window title number ";
        for (char c : std::to_string(i)) name.push_back(static_cast<char16_t>(c));
        recordset->AddRow({Variant::I4(static_cast<std::int32_t>(i)), Variant::Str(BStr(name)),
                           Variant::I8(static_cast<std::int64_t>(i) * 1000), Variant::R8(i * 0.5),
                           Variant::R8(i * 0.25)});
    }
    return recordset;
}

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

}  // namespace

int main(int argc, char** argv) {
    std::size_t rows = 1'000'000;
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--rows") == 0) rows = std::strtoull(argv[i + 1], nullptr, 10);

    const long before = PeakKiB();
    RecordsetPtr plainRows = MakeAnswer(rows);
    const long after = PeakKiB();

    // The plain loop: the same five values read in place, the name copied
    // out as any consumer must; no lookups by name, no conversions.
    using Clock = std::chrono::steady_clock;
    auto start = Clock::now();
    double plainSum = 0;
    std::size_t plainChars = 0;
    {
        Field fields[5];
        for (std::size_t i = 0; i < 5; ++i) plainRows->GetField(i, fields[i]);
        for (; !plainRows->IsEOF(); plainRows->MoveNext()) {
            const Variant* v[5];
            for (std::size_t i = 0; i < 5; ++i) fields[i].GetValueRef(v[i]);
            plainSum += static_cast<double>(v[0]->Integer());
            plainChars += std::u16string(v[1]->Text().Text()).size();
            plainSum += static_cast<double>(v[2]->Integer()) + v[3]->Real() + v[4]->Real();
        }
    }
    const double plain = Seconds(Clock::now() - start);

    RecordsetReader reader(MakeAnswer(rows));
    start = Clock::now();
    double readerSum = 0;
    std::size_t readerChars = 0;
    Field id = reader.GetField("ID"), name = reader.GetField("Name"), time = reader.GetField("TimeSpent");
    Field keys = reader.GetField("KeyboardEvents"), mice = reader.GetField("MouseEvents");
    for (; !reader.IsEOF(); reader.MoveNext()) {
        readerSum += GetFieldInt(id);
        readerChars += GetFieldString(name).size();
        readerSum += GetFieldDouble(time) + GetFieldDouble(keys) + GetFieldDouble(mice);
    }
    const double viaReader = Seconds(Clock::now() - start);

    std::printf("rows:                     %zu\n", rows);
    std::printf("plain loop:               %.3f s (%.0f rows/s)\n", plain, rows / plain);
    std::printf("RecordsetReader + fields: %.3f s (%.0f rows/s)\n", viaReader, rows / viaReader);
    std::printf("ratio reader/plain:       %.2f (goal: at most 1.5)\n", viaReader / plain);
    std::printf("peak memory per row:      %.0f bytes\n", (after - before) * 1024.0 / static_cast<double>(rows));
    std::printf("(checksums %.0f %zu %.0f %zu)\n", plainSum, plainChars, readerSum, readerChars);
    return 0;
}
