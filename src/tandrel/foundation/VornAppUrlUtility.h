#pragma once
// The app's folders and default files: $XDG_DATA_HOME/DravixFTPClient with "Sessions",
// "Services" and "Editor" (holding a fresh copy of the editor page, "ace", at every launch).
#include <filesystem>
#include <optional>

#include "tandrel/foundation/VornError.h"

class VornAppUrlUtility {
public:
    using URL = std::optional<std::filesystem::path>;

    // Creates the folder tree, replaces the editor page copy and writes missing default files.
    // Returns the first file error; folders made before it keep their URLs. A failed page copy
    // leaves the previous copy in place and does not keep the default files from being set up.
    static std::optional<VornError> create_urls();
    static void create_default_json_files();

    static URL base_url();
    static URL sessions_folder_url();
    static URL services_folder_url();
    static URL editor_folder_url();
    static URL ace_folder_url();
    static URL services_file_url();
    static URL editor_pref_file_url();

    // The application folder for the current environment (not created).
    static std::filesystem::path application_folder();
    static void reset_for_testing();
};
