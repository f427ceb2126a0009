#pragma once
// Process-wide values of the app, each made once on first use.
#include <filesystem>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "tandrel/foundation/AMZLogger.h"

// The environment the app runs in (selects the log level).
app_environment app_build_environment();
// The name shown to the user: the bundle display name, else "DravixFTPClient".
const std::string& app_display_name();

// The app's read-only resources (the "main bundle"), found from the running program:
// $DRAVIX_RESOURCE_DIR when set; else, installed, share/dravix beside the program's bin folder;
// else, for a program inside the build tree, the folder the build prepared; else "resources"
// beside the program.
std::filesystem::path app_resource_folder();
// A resource by name, when it exists.
std::optional<std::filesystem::path> app_resource(const std::string& name);

// The app's information values ("CFBundleIdentifier", "CFBundleDisplayName", "CFBundleVersion",
// "CFBundleShortVersionString"): the object in the resource "Info.json", read once; an empty
// object when the resource is missing or is not a JSON object.
const nlohmann::json& app_bundle_info();
