// Every fault the emulator can show against every radar-cli operation, as
// docs/faults.md tabulates them: the tool, run as a program against the
// emulator program on a pseudo-terminal, ends with the exit code and the
// message the table names, within the bound of its operation. The table is
// read from the document, so that the document is what is checked.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <semaphore>
#include <sstream>

#include "ChildProcess.h"
#include "emulator/ModuleEmulator.h"

namespace {

namespace fs = std::filesystem;
using fault_test::ChildResult;
using fault_test::RunChild;
using std::chrono::milliseconds;

// Cells run side by side: most of a cell is waiting for the module's
// time-outs. Not too many, though: the handshakes of 50 and 150 ms must
// still be met while the programs start and the modules stream. A
// sanitizer build runs fewer, as each takes far more processor time.
#ifdef KVEL_SANITIZED
constexpr size_t kQuietCellsAtOnce = 8;
constexpr size_t kStreamingCellsAtOnce = 8;
#else
constexpr size_t kQuietCellsAtOnce = 24;
constexpr size_t kStreamingCellsAtOnce = 34;
#endif
const milliseconds kEmulatorStart{10000};

struct Operation {
    std::vector<std::string> arguments;  // of radar-cli, with DIR, IMAGE and DATA to fill in
    milliseconds bound{0};
    std::string done;  // what the output of a run that exits with 0 holds
    std::vector<std::string> moduleOptions;
};

struct Cell {
    int exitCode = 0;
    std::string phrase;  // found in the output, when not empty
};

struct FaultTable {
    std::vector<std::string> emulatorArguments;
    std::map<std::string, Operation> operations;
    std::vector<std::string> faults;                           // in the table's order
    std::map<std::string, std::map<std::string, Cell>> cells;  // fault, operation
};

std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

std::string Trimmed(std::string text) {
    const auto keep = [](char c) { return c != ' ' && c != '`'; };
    text.erase(text.begin(), std::find_if(text.begin(), text.end(), keep));
    text.erase(std::find_if(text.rbegin(), text.rend(), keep).base(), text.end());
    return text;
}

std::vector<std::string> TableCells(const std::string& line) {
    std::vector<std::string> cells;
    std::stringstream in(line.substr(1));
    for (std::string cell; std::getline(in, cell, '|');) cells.push_back(Trimmed(cell));
    if (!cells.empty() && cells.back().empty()) cells.pop_back();
    return cells;
}

// "2: did not answer" or "0".
Cell ParseCell(const std::string& text) {
    Cell cell;
    cell.exitCode = std::stoi(text);
    const size_t colon = text.find(':');
    if (colon != std::string::npos) cell.phrase = Trimmed(text.substr(colon + 1));
    return cell;
}

FaultTable ReadFaultTable(const std::string& path) {
    FaultTable table;
    std::ifstream in(path);
    std::vector<std::string> columns;
    enum { None, Operations, Matrix } reading = None;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("    radar-emulator ", 0) == 0) {
            table.emulatorArguments = Words(line);
            table.emulatorArguments.erase(table.emulatorArguments.begin());
            continue;
        }
        if (line.empty() || line[0] != '|') {
            reading = None;
            continue;
        }
        std::vector<std::string> cells = TableCells(line);
        if (cells.empty() || cells[0].rfind("---", 0) == 0) continue;
        if (cells[0] == "Operation") {
            reading = Operations;
        } else if (cells[0] == "Fault") {
            reading = Matrix;
            columns = cells;
        } else if (reading == Operations && cells.size() >= 3) {
            Operation& operation = table.operations[cells[0]];
            operation.arguments = Words(cells[1]);
            operation.arguments.erase(operation.arguments.begin());  // "radar-cli"
            operation.bound = std::chrono::seconds(std::stoi(cells[2]));
            if (cells.size() > 3) operation.done = cells[3];
            if (cells.size() > 4) operation.moduleOptions = Words(cells[4]);
        } else if (reading == Matrix && cells.size() == columns.size()) {
            table.faults.push_back(cells[0]);
            for (size_t i = 1; i < cells.size(); ++i)
                table.cells[cells[0]][columns[i]] = ParseCell(cells[i]);
        }
    }
    return table;
}

const FaultTable& Table() {
    static const FaultTable table = ReadFaultTable(KVEL_FAULTS_DOC);
    return table;
}

// A firmware image of a few packets, in the cell's folder.
void WriteImage(const fs::path& path) {
    std::ofstream out(path, std::ios::binary);
    for (int i = 0; i < 3000; ++i) out.put(static_cast<char>(i * 7 + 3));
}

std::string Substituted(const std::string& word, const fs::path& folder, const std::string& data) {
    if (word == "DIR") return folder.string();
    if (word == "IMAGE") return (folder / "image.bin").string();
    if (word == "DATA") return data;
    return word;
}

// The first line of a capture's output: the path of the file it recorded
// into; a file that does not exist when it printed none.
std::string RecordedFile(const ChildResult& capture, const fs::path& folder) {
    const std::string& out = capture.out;
    if (!out.empty() && out[0] == '/') return out.substr(0, out.find('\n'));
    return (folder / "none.dat").string();
}

// Runs `operation` in `folder`: against a module of its own showing the
// fault, or, for an operation that plays a recording (DATA), without one on
// what the capture of the same fault recorded.
ChildResult RunCell(const std::string& fault, const std::string& operation, const fs::path& folder,
                    std::shared_future<ChildResult> capture) {
    const Operation& what = Table().operations.at(operation);
    const bool playsRecording =
        std::find(what.arguments.begin(), what.arguments.end(), "DATA") != what.arguments.end();
    auto cli = [&](const std::vector<std::string>& port) {
        const std::string data = playsRecording ? RecordedFile(capture.get(), folder) : "";
        std::vector<std::string> arguments = port;
        for (const std::string& word : what.arguments)
            arguments.push_back(Substituted(word, folder, data));
        return RunChild(RADAR_CLI, arguments, what.bound);
    };
    if (playsRecording) return cli({});

    WriteImage(folder / "image.bin");
    std::vector<std::string> arguments = Table().emulatorArguments;
    if (fault != "none") arguments.insert(arguments.end(), {"--fault", fault});
    arguments.insert(arguments.end(), what.moduleOptions.begin(), what.moduleOptions.end());
    fault_test::Child module(RADAR_EMULATOR, arguments);
    const std::vector<std::string> port = Words(module.FirstLine(kEmulatorStart));
    if (port.empty() || port[0].rfind("COM", 0) != 0) {
        ChildResult failed;
        failed.err = "the emulator did not start";
        return failed;
    }
    ChildResult result = cli({"--port", port[0].substr(3)});
    module.Terminate(milliseconds(5000));
    return result;
}

// Runs the columns of `operations`, every fault, `atOnce` cells side by
// side. A recording is made by a capture column that comes before.
void CheckOperations(const std::vector<std::string>& operations, size_t atOnce) {
    const FaultTable& table = Table();
    struct Case {
        std::string fault, operation;
        fs::path folder;
        std::shared_future<ChildResult> result;
    };
    std::vector<Case> cases;
    std::map<std::string, std::shared_future<ChildResult>> captures;
    for (const std::string& operation : operations) {
        ASSERT_TRUE(table.operations.count(operation))
            << operation << " is not in " KVEL_FAULTS_DOC;
        for (const std::string& fault : table.faults) {
            const fs::path folder =
                fs::temp_directory_path() /
                ("fault-matrix-" + std::to_string(getpid()) + "-" + std::to_string(cases.size()));
            fs::create_directories(folder);
            cases.push_back({fault, operation, folder, {}});
        }
    }
    // Each cell waits for one of the places; a replay first waits for the
    // capture whose recording it plays.
    std::counting_semaphore<> places(static_cast<std::ptrdiff_t>(atOnce));
    for (Case& next : cases) {
        next.result =
            std::async(std::launch::async, [&places, &next, capture = captures[next.fault]] {
                if (capture.valid()) capture.wait();  // before taking a place the capture may need
                places.acquire();
                ChildResult result = RunCell(next.fault, next.operation, next.folder, capture);
                places.release();
                return result;
            });
        if (next.operation == "capture") captures[next.fault] = next.result;
    }
    for (const Case& cell : cases) cell.result.wait();

    for (const Case& cell : cases) {
        const ChildResult& got = cell.result.get();
        Cell wanted = table.cells.at(cell.fault).at(cell.operation);
        if (wanted.exitCode == 0) wanted.phrase = table.operations.at(cell.operation).done;
        SCOPED_TRACE(cell.fault + " x " + cell.operation + " (" +
                     std::to_string(got.elapsed.count()) +
                     " ms)\nstdout: " + got.out.substr(0, 300) + "\nstderr: " + got.err);
        EXPECT_FALSE(got.timedOut) << "no end within the bound";
        EXPECT_EQ(got.exitCode, wanted.exitCode);
        if (!wanted.phrase.empty()) {
            EXPECT_NE((got.out + got.err).find(wanted.phrase), std::string::npos)
                << "missing: " << wanted.phrase;
        }
    }
    for (const Case& cell : cases) {
        std::error_code ignored;
        fs::remove_all(cell.folder, ignored);
    }
}

TEST(FaultMatrix, TheTableHoldsEveryFaultAndEveryOperation) {
    const FaultTable& table = Table();
    ASSERT_FALSE(table.emulatorArguments.empty());
    std::vector<std::string> known{"none"};
    for (int i = 0; *emulator::FaultName(static_cast<emulator::Fault>(i)) != '\0'; ++i)
        known.push_back(emulator::FaultName(static_cast<emulator::Fault>(i)));
    EXPECT_EQ(table.faults, known);
    EXPECT_EQ(table.operations.size(), 9u);
    for (const auto& [fault, row] : table.cells)
        EXPECT_EQ(row.size(), table.operations.size()) << fault;
}

// Modules that stream nothing take next to no processor time while their
// cells wait; streaming ones take more.
TEST(FaultMatrix, ConnectAndParameters) {
    CheckOperations({"connect", "parameter read", "parameter write"}, kQuietCellsAtOnce);
}

TEST(FaultMatrix, ReportStream) {
    CheckOperations({"realtime", "calibration"}, kStreamingCellsAtOnce);
}

TEST(FaultMatrix, Recording) { CheckOperations({"capture", "replay"}, kStreamingCellsAtOnce); }

TEST(FaultMatrix, Firmware) {
    CheckOperations({"firmware query", "firmware download"}, kQuietCellsAtOnce);
}

}  // namespace
