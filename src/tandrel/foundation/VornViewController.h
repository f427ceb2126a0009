#pragma once
// The base of every app screen: reacts to a change between the light and the dark appearance
// through one hook, and logs its release. In the foundation, beside the other base screens
// (VornFileServerViewController, VornDocViewController), so that the server screens and the
// document screens derive from it without the scene layer.
#include <optional>

#include "platform/ui/ViewController.h"

class VornViewController : public ui::ViewController {
    Q_OBJECT
public:
    VornViewController();
    ~VornViewController() override;

    // Called with the previous and the current trait collections when the view's light or dark
    // style changed (not for other trait changes, and never for a window whose style is fixed).
    virtual void user_interface_style_did_change(const ui::TraitCollection& previous,
                                                 const ui::TraitCollection& current);

    // Writes "deinit <description>" at verbose level.
    void released() override;

protected:
    void traitCollectionDidChange(const std::optional<ui::TraitCollection>& previous) override;

private:
    bool deinitLogged_ = false;
};
