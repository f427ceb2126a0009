#pragma once
// The document window's split view of editor and preview columns. Its background is the bar
// background colour, and it never offers the gesture that shows a hidden column.
#include <QPointer>

#include "platform/ui/SplitViewController.h"
#include "tandrel/foundation/SceneDelegateProtocol.h"

class VORNSplitViewController : public ui::SplitViewController {
    Q_OBJECT
public:
    explicit VORNSplitViewController(Style style = Style::unspecified);
    ~VORNSplitViewController() override;

    // The window's document interface manager; set by it.
    QPointer<SceneDelegateProtocol> scene_delegatex;

    // Always false; a set value still goes to the base.
    bool presentsWithGesture() const override { return false; }
    void setPresentsWithGesture(bool presents) override { ui::SplitViewController::setPresentsWithGesture(presents); }

protected:
    void viewDidLoad() override;
    void traitCollectionDidChange(const std::optional<ui::TraitCollection>& previous) override;

private:
    void apply_background();
};
