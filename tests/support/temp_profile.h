// A throwaway user profile for one test: HOME points at a fresh folder, userprofile and
// XDG_DATA_HOME are unset, and everything comes back (and the folder goes) afterwards.
#pragma once

#include <optional>
#include <string>
#include <vector>

class TempProfile {
public:
    TempProfile();
    ~TempProfile();
    TempProfile(const TempProfile&) = delete;
    TempProfile& operator=(const TempProfile&) = delete;

    const std::string& path() const { return path_; }
    // The key store file of this profile.
    std::string keystorePath() const;

private:
    struct SavedVariable {
        std::string name;
        std::optional<std::string> value;
    };

    std::string path_;
    std::vector<SavedVariable> saved_;
};
