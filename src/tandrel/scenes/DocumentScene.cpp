#include "tandrel/scenes/DocumentScene.h"

#include "tandrel/foundation/AMZLogger.h"

DocumentScene::DocumentScene(ui::SceneSession* session) : ui::Scene(session) {}

DocumentScene::~DocumentScene() { AMZLogger::shared().log_verbose("deinit DocumentScene"); }
