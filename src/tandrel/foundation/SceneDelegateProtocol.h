#pragma once
// The type of the weak `scene_delegatex` link of the document screens: the hub of a document
// window (its document interface manager). Hold it as QPointer<SceneDelegateProtocol>. In the
// foundation with the base screens that carry the link (VornDocViewController).
#include <QObject>

class SceneDelegateProtocol : public QObject {
    Q_OBJECT
public:
    ~SceneDelegateProtocol() override = default;
};
