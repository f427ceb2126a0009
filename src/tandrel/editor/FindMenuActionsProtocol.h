#pragma once
// The find commands a document window answers.
class FindMenuActionsProtocol {
public:
    virtual ~FindMenuActionsProtocol() = default;
    virtual void fim_find() = 0;
    virtual void fim_find_replace() = 0;
    virtual void fim_find_next() = 0;
    virtual void fim_find_previous() = 0;

    // The commands' selectors, as the menus name them.
    static constexpr const char* kFind = "fim_find";
    static constexpr const char* kFindReplace = "fim_find_replace";
    // "Find in Site…": answered by the window's scene delegate (a server or document window).
    static constexpr const char* kFindInSite = "find_in_site";
};
