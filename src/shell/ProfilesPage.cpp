#include "ProfilesPage.h"

#include "MainState.h"

ProfilesPage::ProfilesPage(MainState &state, QWidget *parent)
    : QorPage(QStringLiteral("TabSheetProfiles"), state, parent)
{
}

QString ProfilesPage::Caption() const
{
    return Text("n50", "Профили");
}

void ProfilesPage::Shown()
{
    m_state.ProfilesShown();
}
