// _kelto: the C++ half of the Python package `kelto`. It is a host of the import plug-ins like
// kelto-import: it lists formats, detects, reads files into a columnar table whose columns go
// to NumPy without being copied cell by cell, and writes tables. Reads run without the GIL so
// that several threads read at once; the GIL is taken back only to ask a Python callback a
// question or to look for a pending signal (Ctrl-C) on the main thread.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "python/src/Table.h"

namespace py = pybind11;
using namespace kelto::python;

namespace {

// The Python exception class kelto.Error, created by the package and handed to init().
py::object& ErrorClass() {
    static py::object* error = new py::object();  // never destroyed: outlives the interpreter's teardown order
    return *error;
}

[[noreturn]] void RaiseFailure(const Failure& failure) {
    py::object error = ErrorClass();
    if (error.is_none()) throw std::runtime_error(failure.message);
    py::object code = failure.code ? py::object(py::int_(*failure.code)) : py::object(py::none());
    py::object filename = failure.file.empty() ? py::object(py::none()) : py::object(py::str(failure.file));
    PyErr_SetObject(error.ptr(), py::make_tuple(failure.message, filename, code).ptr());
    throw py::error_already_set();
}

// The question hook of the thread that reads; empty when the reader's default is taken.
thread_local py::object* tQuestionHook = nullptr;
thread_local std::optional<py::error_already_set>* tHookError = nullptr;

// Readers ask their yes/no questions through one process-wide hook; it sends each question
// to the callable given to the read on the asking thread.
bool AskPython(const std::string& question, bool& answer) {
    if (!tQuestionHook || tQuestionHook->is_none()) return false;
    py::gil_scoped_acquire gil;
    try {
        answer = (*tQuestionHook)(question).cast<bool>();
    } catch (py::error_already_set& e) {
        // Raised again once the read is over; the question counts as answered No.
        if (tHookError && !*tHookError) tHookError->emplace(std::move(e));
        answer = false;
    }
    return true;
}

// Looks for a pending signal, on the main thread only (Python runs signal handlers there).
// A handler that raises (KeyboardInterrupt) cancels the read.
struct SignalPoll {
    std::optional<py::error_already_set> raised;
    bool Poll() {
        py::gil_scoped_acquire gil;
        if (PyErr_CheckSignals() == 0) return false;
        raised.emplace();
        return true;
    }
};

py::array NumpyView(py::handle owner, const void* data, std::size_t count, py::dtype dtype) {
    return py::array(dtype, {static_cast<py::ssize_t>(count)}, {}, data, owner);
}

// One column as the package's Python code takes it apart: the arrays view the table's own
// vectors (the table object stays alive as their base).
py::dict ColumnDict(py::object owner, const ColumnData& column) {
    py::dict out;
    out["numbers"] = NumpyView(owner, column.numbers.data(), column.numbers.size(), py::dtype::of<float>());
    static_assert(sizeof(CellKind) == 1);
    out["kinds"] = NumpyView(owner, column.kinds.data(), column.kinds.size(), py::dtype::of<std::uint8_t>());
    if (column.integers.empty())
        out["integers"] = py::none();
    else
        out["integers"] =
            NumpyView(owner, column.integers.data(), column.integers.size(), py::dtype::of<std::int64_t>());
    py::array_t<std::int64_t> rows(static_cast<py::ssize_t>(column.texts.size()));
    py::list texts(column.texts.size());
    auto r = rows.mutable_unchecked<1>();
    for (std::size_t i = 0; i < column.texts.size(); ++i) {
        r(static_cast<py::ssize_t>(i)) = column.texts[i].first;
        PyObject* text = PyUnicode_DecodeUTF8(column.texts[i].second.data(),
                                              static_cast<Py_ssize_t>(column.texts[i].second.size()), "replace");
        if (!text) throw py::error_already_set();
        PyList_SET_ITEM(texts.ptr(), static_cast<Py_ssize_t>(i), text);
    }
    out["text_rows"] = rows;
    out["texts"] = texts;
    out["has_number"] = column.hasNumber;
    out["has_integer"] = column.hasInteger;
    out["has_text"] = column.hasText;
    return out;
}

ReadResult ReadWithoutGil(ReadArguments args, py::object onQuestion, bool pollSignals) {
    std::optional<py::error_already_set> hookError;
    SignalPoll poll;
    ReadResult result;
    {
        py::gil_scoped_release release;
        py::object* previousHook = tQuestionHook;
        auto* previousError = tHookError;
        tQuestionHook = &onQuestion;
        tHookError = &hookError;
        std::function<bool()> poller;
        if (pollSignals) poller = [&poll] { return poll.Poll(); };
        result = Read(args, poller);
        tQuestionHook = previousHook;
        tHookError = previousError;
    }
    if (poll.raised) {
        poll.raised->restore();
        throw py::error_already_set();
    }
    if (hookError) {
        hookError->restore();
        throw py::error_already_set();
    }
    if (result.failure) RaiseFailure(*result.failure);
    return result;
}

}  // namespace

PYBIND11_MODULE(_kelto, m) {
    m.doc() = "The C++ half of the kelto package; use the kelto package instead.";

    m.def(
        "init",
        [](const std::string& packageDirectory, std::optional<std::string> extraDirectory, py::object errorClass) {
            ErrorClass() = std::move(errorClass);
            SetQuestionHook(&AskPython);
            return Initialise(packageDirectory, extraDirectory ? extraDirectory->c_str() : nullptr);
        },
        py::arg("package_directory"), py::arg("extra_directory"), py::arg("error_class"),
        "Builds the process-wide list of plug-ins: those beside the package, then those of the extra "
        "directory (None: none); False when it was built already.");

    m.def("formats", [] {
        py::list out;
        for (const FormatRecord& f : Formats()) {
            py::dict d;
            d["name"] = f.name;
            d["filter"] = f.filter;
            d["extensions"] = f.extensions;
            d["reads"] = f.reads;
            d["writes"] = f.writes;
            d["multi_file"] = f.multiFile;
            out.append(d);
        }
        return out;
    });

    m.def("detect", [](const std::string& path) -> py::object {
        DetectResult result;
        {
            py::gil_scoped_release release;
            result = Detect(path);
        }
        if (result.failure) RaiseFailure(*result.failure);
        if (result.format.empty()) return py::none();
        return py::str(result.format);
    });

    m.def("default_options", [](const std::vector<std::string>& paths, const std::string& format) {
        OptionsResult result;
        {
            py::gil_scoped_release release;
            result = DefaultOptions(paths, format);
        }
        if (result.failure) RaiseFailure(*result.failure);
        py::dict settings;
        for (auto& [key, value] : result.settings) settings[py::str(key)] = value;
        return py::make_tuple(result.format, settings, result.document ? py::object(py::str(*result.document)) : py::object(py::none()));
    });

    py::class_<ReadResult>(m, "RawTable")
        .def_readonly("format", &ReadResult::format)
        .def_readonly("read_name", &ReadResult::readName)
        .def_readonly("warnings", &ReadResult::warnings)
        .def_readonly("notes", &ReadResult::notes)
        .def_property_readonly("rows", [](const ReadResult& r) { return r.rows; })
        .def_property_readonly("columns", [](const ReadResult& r) { return r.columns.size(); })
        .def("column", [](py::object self, std::size_t index) {
            const ReadResult& r = self.cast<const ReadResult&>();
            if (index >= r.columns.size()) throw py::index_error("column index out of range");
            return ColumnDict(self, r.columns[index]);
        });

    m.def(
        "read",
        [](std::vector<std::string> paths, std::string format, std::optional<std::string> options,
           std::vector<std::pair<std::string, std::string>> settings, py::object onQuestion, bool pollSignals) {
            ReadArguments args;
            args.files = std::move(paths);
            args.format = std::move(format);
            args.options = std::move(options);
            args.settings = std::move(settings);
            return ReadWithoutGil(std::move(args), std::move(onQuestion), pollSignals);
        },
        py::arg("paths"), py::arg("format"), py::arg("options"), py::arg("settings"), py::arg("on_question"),
        py::arg("poll_signals"));

    m.def(
        "write",
        [](const std::string& path, const std::string& format, py::list columns, std::size_t rows) {
            // Columns arrive as lists of None, float, int or str, one per row.
            WriteTable table(columns.size(), rows);
            for (std::size_t c = 0; c < columns.size(); ++c) {
                py::sequence column = columns[c];
                if (static_cast<std::size_t>(py::len(column)) != rows) throw py::value_error("ragged columns");
                for (std::size_t r = 0; r < rows; ++r) {
                    py::handle cell = column[r];
                    const int col = static_cast<int>(c) + 1, row = static_cast<int>(r) + 1;
                    if (cell.is_none()) continue;
                    if (py::isinstance<py::bool_>(cell))
                        table.SetInteger(col, row, cell.cast<bool>() ? 1 : 0);
                    else if (py::isinstance<py::int_>(cell))
                        table.SetInteger(col, row, cell.cast<std::int64_t>());
                    else if (py::isinstance<py::float_>(cell)) {
                        double v = cell.cast<double>();
                        if (!std::isnan(v)) table.SetNumber(col, row, v);
                    } else
                        table.SetText(col, row, py::str(cell).cast<std::string>());
                }
            }
            std::optional<Failure> failure;
            {
                py::gil_scoped_release release;
                failure = Write(path, format, table);
            }
            if (failure) RaiseFailure(*failure);
        },
        py::arg("path"), py::arg("format"), py::arg("columns"), py::arg("rows"));
}
