#pragma once
// Resource, string, command and control ids of the viewer. The numbers are
// the program's fixed identities: menus, toolbars, settings and the string
// table are keyed by them, so they never change.

// Shared resource ids: application icon, menu, toolbar, accelerators and the
// document template string all use 128.
inline constexpr unsigned kIdrMainFrame = 128;
inline constexpr unsigned kIdrContextMenu = 130;   // "My menu": Cut, Copy, Paste
inline constexpr unsigned kIdrToolbarsMenu = 131;  // the list behind View > Toolbars

// Icons, bitmaps and the animated hourglass.
inline constexpr unsigned kIdbToolbarHot = 151;     // highlighted toolbar images
inline constexpr unsigned kIdbToolbarNormal = 152;  // normal toolbar images
inline constexpr unsigned kIdiUser = 154;
inline constexpr unsigned kIdiComputer = 155;
inline constexpr unsigned kIdiProgram = 157;    // also the default program image
inline constexpr unsigned kIdcHourglass = 160;  // ten frames
inline constexpr int kHourglassFrameCount = 10;
inline constexpr unsigned kIdiUsersPane = 161;
inline constexpr unsigned kIdiApplicationsPane = 162;
inline constexpr unsigned kIdiComputersPane = 163;
inline constexpr unsigned kIdbOptionsNavigation = 164;  // strip: "General", then "Server"
inline constexpr int kOptionsNavigationIconCount = 2;

// Toolbar button images are 16 x 15 pixels.
inline constexpr int kToolbarButtonWidth = 16;
inline constexpr int kToolbarButtonHeight = 15;

// Dialogs and form templates.
inline constexpr unsigned kIddAbout = 100;
inline constexpr unsigned kIddRightView = 101;
inline constexpr unsigned kIddServerPage = 106;

// Controls.
inline constexpr unsigned kIdcTree = 101;          // the tree inside every tree pane
inline constexpr unsigned kIdcVendorLink = 1041;   // About box hyperlink
inline constexpr unsigned kIdcCaptionIcon = 1042;  // report view caption icon
inline constexpr unsigned kIdcServerName = 1055;   // Server page edit field
inline constexpr unsigned kIdcVersion = 1056;      // About box version text

// Tree panes.
inline constexpr unsigned kIdPaneUsers = 124;
inline constexpr unsigned kIdPaneComputers = 125;
inline constexpr unsigned kIdPaneApplications = 126;

// Strings.
inline constexpr unsigned kIdsOleInitFailed = 100;  // holds no text
inline constexpr unsigned kIdsToolbarStandard = 101;
inline constexpr unsigned kIdsProcess = 102;
inline constexpr unsigned kIdsServerNotSet = 103;
inline constexpr unsigned kIdsHtmlStyleHeader = 104;
inline constexpr unsigned kIdsVendorWebAddress = 105;
inline constexpr unsigned kIdsOptions = 106;
inline constexpr unsigned kIdsGeneral = 107;
inline constexpr unsigned kIdsFieldEmpty = 108;
inline constexpr unsigned kIdsCannotConnect = 109;  // '%s'
inline constexpr unsigned kIdsAccessDenied = 110;   // `%s`
inline constexpr unsigned kIdsNotInstalled = 111;   // `%s`
inline constexpr unsigned kIdsNotAvailable = 112;   // `%s`
inline constexpr unsigned kIdsConnectFailed = 113;  // `%s`, then the system text
inline constexpr unsigned kIdsDocTemplate = 128;
inline constexpr unsigned kIdsUsers = 129;
inline constexpr unsigned kIdsComputers = 130;
inline constexpr unsigned kIdsApplications = 131;
inline constexpr unsigned kIdsComputer = 132;
inline constexpr unsigned kIdsTimeSpent = 133;
inline constexpr unsigned kIdsKeyboardEvents = 134;
inline constexpr unsigned kIdsMouseEvents = 135;
inline constexpr unsigned kIdsOthers = 136;
inline constexpr unsigned kIdsProgramName = 137;
inline constexpr unsigned kIdsComputerCaption = 138;  // "%s on %s"
inline constexpr unsigned kIdsWindowTitle = 139;
inline constexpr unsigned kIdsUserName = 140;
inline constexpr unsigned kIdsApplicationCaption = 141;  // "%s (%s on %s)"
inline constexpr unsigned kIdsAppUserCaption = 142;      // "% s (by %s)"
inline constexpr unsigned kIdsAppTitle = 57344;          // "QVViewer"
inline constexpr unsigned kIdsIdleMessage = 57345;       // status bar message pane
inline constexpr unsigned kIdsIndicatorCaps = 59137;
inline constexpr unsigned kIdsIndicatorNum = 59138;
inline constexpr unsigned kIdsIndicatorScroll = 59139;

// Commands.
inline constexpr unsigned kIdCustomize = 32770;
inline constexpr unsigned kIdToolbarsPlaceholder = 32771;
inline constexpr unsigned kIdViewComputersTree = 32792;
inline constexpr unsigned kIdUserToolbarFirst = 32793;  // user-defined toolbar 1
inline constexpr unsigned kIdUserToolbarLast = 32802;   // user-defined toolbar 10
inline constexpr int kUserToolbarCount = 10;
inline constexpr unsigned kIdViewUsersTree = 32803;
inline constexpr unsigned kIdLookWindows2000 = 32826;  // the framework's plain style
inline constexpr unsigned kIdLookOfficeXP = 32827;
inline constexpr unsigned kIdLookOffice2003 = 32828;
inline constexpr unsigned kIdLookWindowsXP = 32829;
inline constexpr unsigned kIdLookVS2005 = 32830;  // the default look
inline constexpr unsigned kIdViewRefresh = 32844;
inline constexpr unsigned kIdViewApplicationsTree = 32845;
inline constexpr unsigned kIdFileExportReport = 32849;
inline constexpr unsigned kIdToolsOptions = 32850;
inline constexpr unsigned kIdFileNew = 57600;
inline constexpr unsigned kIdFileOpen = 57601;
inline constexpr unsigned kIdFileSave = 57603;
inline constexpr unsigned kIdFilePrint = 57607;
inline constexpr unsigned kIdEditCopy = 57634;
inline constexpr unsigned kIdEditCut = 57635;
inline constexpr unsigned kIdEditFind = 57636;
inline constexpr unsigned kIdEditPaste = 57637;
inline constexpr unsigned kIdEditUndo = 57643;
inline constexpr unsigned kIdWindowTileHorz = 57651;
inline constexpr unsigned kIdAppAbout = 57664;
inline constexpr unsigned kIdAppExit = 57665;
inline constexpr unsigned kIdNextPane = 57680;
inline constexpr unsigned kIdPrevPane = 57681;
inline constexpr unsigned kIdViewToolbar = 59392;
inline constexpr unsigned kIdViewStatusBar = 59393;  // also the status bar's id
inline constexpr unsigned kIdRecordLast = 59649;
inline constexpr unsigned kIdRecordNext = 59650;

// The toolbar's buttons left to right; 0 is a separator. The image strips
// 151 and 152 hold one image per command, in this order, separators skipped.
inline constexpr unsigned kToolbarLayout[] = {
    kIdFileExportReport, kIdEditFind, 0,           kIdViewUsersTree, kIdViewComputersTree, kIdViewApplicationsTree, 0,
    kIdToolsOptions,     0,           kIdAppAbout,
};
inline constexpr int kToolbarImageCount = 7;
