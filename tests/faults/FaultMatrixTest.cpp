// Every fault the emulator can show against every radar-cli operation, as
// docs/faults.md tabulates them: the tool, run as a program against the
// emulator program on a pseudo-terminal, ends with the exit code and the
// message the table names, within the bound of its operation. The table is
// read from the document, so that the document is what is checked.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <sstream>

#include "ChildProcess.h"
#include "emulator/ModuleEmulator.h"

namespace {

namespace fs = std::filesystem;
using fault_test::ChildResult;
using fault_test::RunChild;
using std::chrono::milliseconds;

// Cells run side by side: most of a cell is waiting for the module's
// time-outs. A sanitizer build runs fewer at once, as each takes far more
// processor time.
#ifdef KVEL_SANITIZED
constexpr size_t kCellsAtOnce = 8;
#else
constexpr size_t kCellsAtOnce = 64;
#endif
const milliseconds kEmulatorStart{10000};

struct Operation {
    std::vector<std::string> arguments;  // of radar-cli, with DIR, IMAGE and DATA to fill in
    milliseconds bound{0};
    std::string done;  // what the output of a run that exits with 0 holds
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

class CellRun {
public:
    CellRun(const std::string& fault, const std::string& operation)
        : m_fault(fault),
          m_operation(operation),
          m_folder(fs::temp_directory_path() /
                   ("fault-matrix-" + std::to_string(getpid()) + "-" + fault + "-" +
                    std::to_string(std::hash<std::string>{}(operation)))) {}
    ~CellRun() {
        std::error_code ignored;
        fs::remove_all(m_folder, ignored);
    }

    // Starts a module showing the fault, runs the operation against it.
    ChildResult Run() {
        fs::create_directories(m_folder);
        WriteImage(m_folder / "image.bin");
        std::vector<std::string> arguments = Table().emulatorArguments;
        if (m_fault != "none") arguments.insert(arguments.end(), {"--fault", m_fault});
        fault_test::Child module(RADAR_EMULATOR, arguments);
        const std::vector<std::string> port = Words(module.FirstLine(kEmulatorStart));
        if (port.empty() || port[0].rfind("COM", 0) != 0) {
            ChildResult failed;
            failed.err = "the emulator did not start";
            return failed;
        }
        std::string data = (m_folder / "none.dat").string();
        // A replay plays what a capture under the same fault recorded.
        if (m_operation == "replay") {
            const std::string printed = Cli("capture", port[0].substr(3), data).out;
            if (!printed.empty() && printed[0] == '/') data = printed.substr(0, printed.find('\n'));
        }
        ChildResult result = Cli(m_operation, port[0].substr(3), data);
        module.Terminate(milliseconds(5000));
        return result;
    }

private:
    ChildResult Cli(const std::string& operation, const std::string& port,
                    const std::string& data) {
        const Operation& what = Table().operations.at(operation);
        std::vector<std::string> arguments{"--port", port};
        for (const std::string& word : what.arguments)
            arguments.push_back(Substituted(word, m_folder, data));
        return RunChild(RADAR_CLI, arguments, what.bound);
    }

    std::string m_fault;
    std::string m_operation;
    fs::path m_folder;
};

// Runs the columns of `operations`, every fault, side by side.
void CheckOperations(const std::vector<std::string>& operations) {
    const FaultTable& table = Table();
    struct Case {
        std::string fault, operation;
        std::future<ChildResult> result;
    };
    std::vector<Case> cases;
    std::vector<ChildResult> results;
    for (const std::string& operation : operations) {
        ASSERT_TRUE(table.operations.count(operation))
            << operation << " is not in " KVEL_FAULTS_DOC;
        for (const std::string& fault : table.faults) cases.push_back({fault, operation, {}});
    }
    size_t started = 0;
    auto start = [&] {
        Case& next = cases[started++];
        next.result =
            std::async(std::launch::async, [fault = next.fault, operation = next.operation] {
                return CellRun(fault, operation).Run();
            });
    };
    while (started < cases.size() && started < kCellsAtOnce) start();
    for (size_t i = 0; i < cases.size(); ++i) {
        results.push_back(cases[i].result.get());
        if (started < cases.size()) start();
    }

    for (size_t i = 0; i < cases.size(); ++i) {
        const ChildResult& got = results[i];
        Cell wanted = table.cells.at(cases[i].fault).at(cases[i].operation);
        if (wanted.exitCode == 0) wanted.phrase = table.operations.at(cases[i].operation).done;
        SCOPED_TRACE(cases[i].fault + " x " + cases[i].operation + " (" +
                     std::to_string(got.elapsed.count()) +
                     " ms)\nstdout: " + got.out.substr(0, 300) + "\nstderr: " + got.err);
        EXPECT_FALSE(got.timedOut) << "no end within the bound";
        EXPECT_EQ(got.exitCode, wanted.exitCode);
        if (!wanted.phrase.empty()) {
            EXPECT_NE((got.out + got.err).find(wanted.phrase), std::string::npos)
                << "missing: " << wanted.phrase;
        }
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

TEST(FaultMatrix, ConnectAndParameters) {
    CheckOperations({"connect", "parameter read", "parameter write"});
}

TEST(FaultMatrix, ReportStream) {
    CheckOperations({"realtime", "calibration", "capture", "replay"});
}

TEST(FaultMatrix, Firmware) { CheckOperations({"firmware query", "firmware download"}); }

}  // namespace
