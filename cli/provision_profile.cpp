#include "cli/provision_profile.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>

#include "functions/tasks_json.h"
#include "functions/module_functions.h"
#include "library/library_file.h"
#include "platform/sys_error.h"
#include "platform/utf8_path.h"

namespace orvante::cli {

namespace {

using json = nlohmann::ordered_json;

// A profile is a few hundred bytes; a file far larger is not one.
constexpr std::size_t kMaxProfileSize = 1 << 20;

std::optional<int> WholeNumberIn(const json& value, std::int64_t min, std::int64_t max) {
    if (!value.is_number_integer()) return std::nullopt;
    const std::int64_t number = value.get<std::int64_t>();
    if (number < min || number > max) return std::nullopt;
    return static_cast<int>(number);
}

bool Refuse(const std::string& key, const std::string& what, std::string* error) {
    *error = "\"" + key + "\": " + what;
    return false;
}

// A whole-number key whose value must be one of `allowed`, or lie in min..max.
bool ReadNumber(const json& value, const std::string& key, std::int64_t min, std::int64_t max,
                const std::string& allowed, std::optional<int>* out, std::string* error) {
    const std::optional<int> number = WholeNumberIn(value, min, max);
    if (!number) return Refuse(key, "must be " + allowed, error);
    *out = number;
    return true;
}

bool ReadLibrary(const json& value, const std::string& folder, ProvisionProfile* profile,
                 std::string* error) {
    if (!value.is_string() || value.get<std::string>().empty()) {
        return Refuse("library", "must be the name of a .db file", error);
    }
    const std::filesystem::path named = platform::PathFromUtf8(value.get<std::string>());
    const std::string path = platform::Utf8FromPath(
        named.is_absolute() ? named : platform::PathFromUtf8(folder) / named);
    library::FileError fileError;
    if (!library::ReadLibraryFile(path, &profile->library, &fileError)) {
        const std::string reason =
            fileError.problem == library::FileProblem::kTooLarge
                ? "is larger than 65536 bytes"
                : "cannot be read" +
                      (fileError.reason.empty() ? std::string() : " (" + fileError.reason + ")");
        return Refuse("library", path + " " + reason, error);
    }
    profile->libraryPath = path;
    return true;
}

bool ReadKey(const std::string& key, const json& value, const std::string& folder,
             ProvisionProfile* profile, std::string* error) {
    if (key == "library") return ReadLibrary(value, folder, profile, error);
    if (key == "capacity") {
        std::optional<int> capacity;
        if (!ReadNumber(value, key, functions::kPulseCapacityRange.min,
                        functions::kPulseCapacityRange.max, "a pulse capacity from 1 to 400",
                        &capacity, error)) {
            return false;
        }
        profile->capacity = static_cast<std::uint16_t>(*capacity);
        return true;
    }
    if (key == "tasks") {
        functions::TimedTasks tasks{};
        std::string problem;
        if (!functions::TasksFromJsonArray(value, &tasks, &problem)) return Refuse(key, problem, error);
        profile->tasks = tasks;
        return true;
    }
    if (key == "baud") {
        return ReadNumber(value, key, 50, 4'000'000, "a rate from 50 to 4000000", &profile->baud,
                          error);
    }
    if (key == "parity") {
        const std::string text = value.is_string() ? value.get<std::string>() : "";
        if (text != "N" && text != "O" && text != "E") {
            return Refuse(key, "must be \"N\", \"O\" or \"E\"", error);
        }
        profile->parity = text[0];
        return true;
    }
    if (key == "data_bits") {
        if (!ReadNumber(value, key, 6, 8, "8, 7 or 6", &profile->dataBits, error)) return false;
        return true;
    }
    if (key == "stop_bits") {
        return ReadNumber(value, key, 1, 2, "1 or 2", &profile->stopBits, error);
    }
    if (key == "retries") {
        return ReadNumber(value, key, 0, 100, "a number of resends from 0 to 100",
                          &profile->retries, error);
    }
    return Refuse(key,
                  "is not a key of a profile (library, capacity, tasks, baud, parity, "
                  "data_bits, stop_bits, retries)",
                  error);
}

}  // namespace

bool ParseProvisionProfile(const std::string& text, const std::string& folder,
                           ProvisionProfile* profile, std::string* error) {
    const json document = json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (document.is_discarded()) {
        *error = "not valid JSON";
        return false;
    }
    if (!document.is_object()) {
        *error = "expected one JSON object";
        return false;
    }
    ProvisionProfile read;
    for (const auto& [key, value] : document.items()) {
        if (!ReadKey(key, value, folder, &read, error)) return false;
    }
    if (!read.libraryPath && !read.capacity && !read.tasks) {
        *error = "gives none of \"library\", \"capacity\" and \"tasks\": nothing to do";
        return false;
    }
    *profile = std::move(read);
    return true;
}

bool LoadProvisionProfile(const std::string& path, ProvisionProfile* profile, std::string* error) {
    const std::filesystem::path file = platform::PathFromUtf8(path);
    std::error_code ignored;
    if (std::filesystem::is_directory(file, ignored)) {
        *error = path + " is a folder";
        return false;
    }
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> in(platform::OpenFile(file, "rb"),
                                                             &std::fclose);
    if (!in) {
        *error = "cannot read " + path + ": " + platform::SysError::FromErrno(errno).text;
        return false;
    }
    std::string text(kMaxProfileSize + 1, '\0');
    text.resize(std::fread(text.data(), 1, text.size(), in.get()));
    if (text.size() > kMaxProfileSize) {
        *error = path + " is larger than 1 MiB: not a profile";
        return false;
    }
    std::string problem;
    const std::string folder = platform::Utf8FromPath(file.parent_path());
    if (!ParseProvisionProfile(text, folder.empty() ? "." : folder, profile, &problem)) {
        *error = path + ": " + problem;
        return false;
    }
    return true;
}

}  // namespace orvante::cli
