# Precompiled Qt headers, shared by every target of the tree.
#
# Parsing Qt's headers is half to three quarters of a translation unit's compile time.
# Two small owner targets precompile them once per build, one for code that uses only
# QtCore and one for code that uses widgets (with QCustomPlot); every other target reuses
# one of the two. A precompiled header is only valid where each macro it was made with has
# the same value, so the owners carry nothing but Qt's own module macros, which every
# user of the same kind also has. gcc falls back to the plain headers (and says so with
# -Winvalid-pch) where a target's flags do not fit; clang refuses, so a misfit shows.

option(VELMARIS_PCH "Precompile Qt's headers once and share them between targets" ON)

set(VELMARIS_PCH_CORE
  <algorithm> <functional> <map> <memory> <optional> <set> <vector>
  <QtGlobal> <QtMath> <QObject> <QMetaObject> <QMetaType> <QPointer> <QVariant>
  <QByteArray> <QByteArrayView> <QString> <QStringList> <QList> <QHash> <QMap> <QSet>
  <QRegularExpression> <QDateTime> <QTimeZone> <QDeadlineTimer> <QElapsedTimer> <QTimer>
  <QEventLoop> <QThread> <QCoreApplication> <QSocketNotifier> <QProcess>
  <QIODevice> <QBuffer> <QFile> <QSaveFile> <QFileInfo> <QDir> <QDirIterator> <QStorageInfo>
  <QStandardPaths> <QTemporaryDir> <QLibraryInfo> <QSysInfo> <QTranslator> <QLoggingCategory>
  <QRandomGenerator> <QScopedValueRollback> <QUrl> <QAbstractTableModel>
  <QJsonArray> <QJsonDocument> <QJsonObject>)
set(VELMARIS_PCH_GUI
  <QGuiApplication> <QColor> <QFont> <QFontDatabase> <QIcon> <QImage> <QPalette> <QPainter>
  <QCursor> <QClipboard> <QScreen> <QDesktopServices> <QTextDocument> <QTextLayout>
  <QCloseEvent> <QHelpEvent> <QKeyEvent> <QMouseEvent> <QShowEvent>
  <QApplication> <QWidget> <QMainWindow> <QDialog> <QDialogButtonBox> <QMessageBox>
  <QFileDialog> <QStyle> <QStyleOptionButton> <QStyledItemDelegate> <QFrame> <QLayout>
  <QVBoxLayout> <QHBoxLayout> <QGridLayout> <QFormLayout> <QSplitter> <QScrollArea>
  <QScrollBar> <QTabWidget> <QGroupBox> <QLabel> <QAbstractButton> <QPushButton>
  <QToolButton> <QCheckBox> <QButtonGroup> <QComboBox> <QLineEdit> <QSpinBox>
  <QDoubleSpinBox> <QDateTimeEdit> <QPlainTextEdit> <QTextBrowser> <QAbstractItemView>
  <QTableView> <QTableWidget> <QHeaderView> <QListWidget> <QMenu> <QToolBar> <QStatusBar>
  <QToolTip> <QSystemTrayIcon> <qcustomplot.h>)

# Every buildsystem target below a folder.
function(_velmaris_pch_targets dir out)
  get_property(found DIRECTORY "${dir}" PROPERTY BUILDSYSTEM_TARGETS)
  get_property(subdirs DIRECTORY "${dir}" PROPERTY SUBDIRECTORIES)
  foreach(sub IN LISTS subdirs)
    _velmaris_pch_targets("${sub}" more)
    list(APPEND found ${more})
  endforeach()
  set(${out} ${found} PARENT_SCOPE)
endfunction()

# "gui" when a target reaches the plot (and with it Qt's widgets) through what it links,
# "core" when it reaches other Qt modules only, empty when it uses no Qt at all.
function(_velmaris_pch_kind target out)
  set(kind "")
  set(queue ${target})
  set(seen "")
  while(queue)
    list(POP_FRONT queue t)
    if(t IN_LIST seen)
      continue()
    endif()
    list(APPEND seen ${t})
    if(t STREQUAL "QCustomPlotQt6::QCustomPlotQt6")
      set(kind gui)
      break()
    elseif(t MATCHES "^Qt6::")
      set(kind core)
    elseif(TARGET ${t})
      get_target_property(imported ${t} IMPORTED)
      if(imported)
        continue()
      endif()
      get_target_property(libs ${t} LINK_LIBRARIES)
      get_target_property(ilibs ${t} INTERFACE_LINK_LIBRARIES)
      foreach(lib IN LISTS libs ilibs)
        if(lib AND NOT lib MATCHES "-NOTFOUND$")
          string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" lib "${lib}")
          list(APPEND queue ${lib})
        endif()
      endforeach()
    endif()
  endwhile()
  set(${out} ${kind} PARENT_SCOPE)
endfunction()

function(velmaris_precompile_everything)
  if(NOT VELMARIS_PCH)
    return()
  endif()
  _velmaris_pch_targets("${PROJECT_SOURCE_DIR}" all)
  file(WRITE "${PROJECT_BINARY_DIR}/pch/pch_owner.cpp" "// Only carries the precompiled headers.\n")
  add_library(velmaris_pch_core STATIC "${PROJECT_BINARY_DIR}/pch/pch_owner.cpp")
  target_link_libraries(velmaris_pch_core PRIVATE Qt6::Core)
  target_precompile_headers(velmaris_pch_core PRIVATE ${VELMARIS_PCH_CORE})
  add_library(velmaris_pch_gui STATIC "${PROJECT_BINARY_DIR}/pch/pch_owner.cpp")
  target_link_libraries(velmaris_pch_gui PRIVATE Qt6::Widgets QCustomPlotQt6::QCustomPlotQt6)
  target_precompile_headers(velmaris_pch_gui PRIVATE ${VELMARIS_PCH_CORE} ${VELMARIS_PCH_GUI})
  foreach(t IN LISTS all)
    get_target_property(type ${t} TYPE)
    if(NOT type MATCHES "^(STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|EXECUTABLE)$")
      continue()
    endif()
    _velmaris_pch_kind(${t} kind)
    if(kind)
      target_precompile_headers(${t} REUSE_FROM velmaris_pch_${kind})
    endif()
  endforeach()
endfunction()
