#pragma once
#include "QorPage.h"

// TabSheetProfiles: the profile files of the user tables.
class ProfilesPage : public QorPage {
    Q_OBJECT
public:
    explicit ProfilesPage(MainState &state, QWidget *parent = nullptr);

    QString Caption() const override;
    void ApplyCaptions() override {}
    void Shown() override;
};
