#include "platform/string_table.h"

#include <cctype>
#include <optional>
#include <unordered_map>
#include <vector>

#include "platform/profile.h"

namespace zembra {

namespace {

struct Entry {
    const char* key;
    const char* text;
};

// The order is the order of load and save: language files written by us list
// their keys in it.
const Entry kEntries[] = {
    {"STR_MAIN_LABEL_Index", "Index"},
    {"STR_MAIN_LABEL_Audio", "Audio"},
    {"STR_MAIN_LABEL_Angle", "Angle"},
    {"STR_MAIN_LABEL_Subtitle", "Subtitle"},
    {"STR_MAIN_LABEL_Format", "Format"},
    {"STR_MAIN_LABEL_Zoom", "Zoom"},
    {"STR_MAIN_LABEL_OutputFolder", "Output Folder"},
    {"STR_MAIN_LABEL_Split", "Split"},
    {"STR_MAIN_LABEL_Monitor", "Monitor"},
    {"STR_MAIN_LABEL_MONITOR_UsedSize", "Used Size: "},
    {"STR_MAIN_LABEL_MONITOR_RemainTime", "Remain Time: "},
    {"STR_MAIN_LABEL_MONITOR_Time", "Time: "},
    {"STR_MAIN_LABEL_MONITOR_MB", "MB"},
    {"STR_MAIN_LABEL_MONITOR_None", "None"},
    {"STR_MAIN_LABEL_MONITOR_Frames", "Frames"},
    {"STR_MAIN_LABEL_MONITOR_TotalEncodingTime", ", Total Encoding Time: "},
    {"STR_MAIN_LABEL_MONITOR_ScaningInputStream", "Scanning input stream..."},
    {"STR_MAIN_LABEL_MONITOR_Scanning", "Scanning"},
    {"STR_MAIN_BUTTON_Min", "Minimize"},
    {"STR_MAIN_BUTTON_SysHelp", "Help"},
    {"STR_MAIN_BUTTON_Close", "Close"},
    {"STR_MAIN_BUTTON_OpenDVD", "Open DVD"},
    {"STR_MAIN_BUTTON_OpenIFO", "Open IFO"},
    {"STR_MAIN_BUTTON_OpenVOB", "Open VOB"},
    {"STR_MAIN_BUTTON_Remove", "Remove"},
    {"STR_MAIN_BUTTON_Setting", "Setting..."},
    {"STR_MAIN_BUTTON_Config", "Configure..."},
    {"STR_MAIN_BUTTON_Browse", "Browse..."},
    {"STR_MAIN_BUTTON_SplitSetting", "Setting..."},
    {"STR_MAIN_BUTTON_Rip", "Rip Now"},
    {"STR_MAIN_BUTTON_CancelRip", "Cancel"},
    {"STR_MAIN_COMBO_Index_None", "None"},
    {"STR_MAIN_COMBO_Audio_None", "None"},
    {"STR_MAIN_COMBO_Subtitle_None", "None"},
    {"STR_MAIN_COMBO_Angle_All", "All"},
    {"STR_MAIN_COMBO_Format_0", "Custom MPEG1"},
    {"STR_MAIN_COMBO_Format_1", "Custom MPEG2"},
    {"STR_MAIN_COMBO_Format_2", "AVI (DivX, XviD, MP43, YUV,...)"},
    {"STR_MAIN_COMBO_Format_3", "DVD NTSC Long Play"},
    {"STR_MAIN_COMBO_Format_4", "DVD NTSC Standart Play"},
    {"STR_MAIN_COMBO_Format_5", "DVD NTSC Good Quality"},
    {"STR_MAIN_COMBO_Format_6", "DVD NTSC High Quality"},
    {"STR_MAIN_COMBO_Format_7", "SVCD NTSC Great Quality"},
    {"STR_MAIN_COMBO_Format_8", "VCD NTSC Good Quality"},
    {"STR_MAIN_COMBO_Format_9", "DVD PAL Long Play"},
    {"STR_MAIN_COMBO_Format_10", "DVD PAL Standart Play"},
    {"STR_MAIN_COMBO_Format_11", "DVD PAL Good Quality"},
    {"STR_MAIN_COMBO_Format_12", "DVD PAL High Quality"},
    {"STR_MAIN_COMBO_Format_13", "SVCD PAL Great Quality"},
    {"STR_MAIN_COMBO_Format_14", "VCD PAL Good Quality"},
    {"STR_MAIN_COMBO_Zoom_0", "LetterBox (16:9 -> 4:3)"},
    {"STR_MAIN_COMBO_Zoom_1", "Medium (16:9 -> 4:3)"},
    {"STR_MAIN_COMBO_Zoom_2", "PanScale (16:9 -> 4:3)"},
    {"STR_MAIN_COMBO_Zoom_3", "Full (16:9 or 4:3)"},
    {"STR_MAIN_COMBO_Zoom_4", "Custom"},
    {"STR_MAIN_COMBO_Split_0", "Infinite"},
    {"STR_MAIN_COMBO_Split_1", "74 Min VCD"},
    {"STR_MAIN_COMBO_Split_2", "80 Min VCD"},
    {"STR_MAIN_COMBO_Split_3", "74 Min ISO DataCD"},
    {"STR_MAIN_COMBO_Split_4", "80 MIn ISO DataCD"},
    {"STR_MAIN_COMBO_Split_5", "Custom Size"},
    {"STR_MAIN_LISTVIEW_Files_OutputName", "Output Name"},
    {"STR_MAIN_LISTVIEW_Files_IFOName", "IFO Name"},
    {"STR_MAIN_LISTVIEW_Files_Chapters", "Chapters"},
    {"STR_MAIN_LISTVIEW_Files_Time", "Time"},
    {"STR_MAIN_LISTVIEW_Title", "Title"},
    {"STR_MAIN_MENU_FILE_OpenDVD", "Open DVD..."},
    {"STR_MAIN_MENU_FILE_OpenIFO", "Open IFO..."},
    {"STR_MAIN_MENU_FILE_OpenVOB", "Open VOB..."},
    {"STR_MAIN_MENU_FILE_SettingDlg", "Setting..."},
    {"STR_MAIN_MENU_FILE_HelpContext", "Help Content"},
    {"STR_MAIN_MENU_TOOL_OpenDVD", "Open DVD..."},
    {"STR_MAIN_MENU_TOOL_OpenIFO", "Open IFO..."},
    {"STR_MAIN_MENU_TOOL_OpenVOB", "Open VOB..."},
    {"STR_MAIN_MENU_TOOL_Remove", "Remove"},
    {"STR_MAIN_MENU_TOOL_SettingDlg", "Setting..."},
    {"STR_MAIN_MENU_TOOL_HelpContext", "Help Content"},
    {"STR_MAIN_MENU_SETTING_SettingDlg", "Setting..."},
    {"STR_MAIN_MENU_SETTING_Crop", "Crop"},
    {"STR_MAIN_MENU_SETTING_CROP_43Correct", "4/3 Correct (Display Only)"},
    {"STR_MAIN_MENU_SETTING_CROP_ShowResolution", "Show Resolution"},
    {"STR_MAIN_MENU_SETTING_CROP_EditCoordinate", "Edit Coordinate"},
    {"STR_MAIN_MENU_SETTING_CROP_RenderSource", "Render Source"},
    {"STR_MAIN_MENU_SETTING_CROP_RenderDestination", "Render Destination"},
    {"STR_MAIN_MENU_SETTING_CROP_AdjustResolution", "Adjust Output Resolution"},
    {"STR_MAIN_MENU_SETTING_CROP_AdjustResolution_43Correct", "4/3 Correct"},
    {"STR_MAIN_MENU_SETTING_CROP_AdjustResolution_Selection", "Selection"},
    {"STR_MAIN_MENU_SETTING_CROP_AdjustResolution_PreserveRatio", "Preserve Ratio"},
    {"STR_MAIN_MENU_SETTING_Priority", "Priority"},
    {"STR_MAIN_MENU_SETTING_Priority_Normal", "Normal"},
    {"STR_MAIN_MENU_SETTING_Priority_Idle", "Idle"},
    {"STR_MAIN_MENU_SETTING_Priority_High", "High"},
    {"STR_MAIN_MENU_SETTING_PRIORITY_RealTime", "RealTime"},
    {"STR_MAIN_MENU_SETTING_Language", "Language"},
    {"STR_MAIN_MENU_EDIT_Uncheck", "Uncheck"},
    {"STR_MAIN_MENU_EDIT_UncheckAll", "Uncheck All"},
    {"STR_MAIN_MENU_EDIT_Check", "Check"},
    {"STR_MAIN_MENU_EDIT_CheckAll", "Check All"},
    {"STR_MAIN_MENU_EDIT_Remove", "Remove"},
    {"STR_MAIN_MENU_EDIT_RemoveAll", "Remove All"},
    {"STR_MAIN_MENU_EDIT_Properties", "Properties..."},
    {"STR_MAIN_MENU_HELP_HelpContext", "Help Content"},
    {"STR_MAIN_MENU_HELP_OnlineResources", "Online Resources"},
    {"STR_MAIN_MENU_HELP_TechnicalSupport", "Technical Support"},
    {"STR_MAIN_MENU_HELP_About", "About..."},
    {"STR_MAIN_DLG_WarningTitle", "Warning"},
    {"STR_MAIN_DLG_ErrorTitle", "Error"},
    {"STR_MAIN_DLG_InformationTitle", "Infomation"},
    {"STR_MAIN_DLG_SelectOutputDirTitle", "Select Output Directory"},
    {"STR_MAIN_DLG_OpenIFOTitle", "Open IFO"},
    {"STR_MAIN_DLG_OpenIFOFilter", "IFO File(*.ifo,*.IFO)|*.ifo;*.IFO|"},
    {"STR_MAIN_DLG_OpenVOBTitle", "Open VOB"},
    {"STR_MAIN_DLG_OpenVOBFilter",
     "VOB File(*.vob,*.VOB)|*.vob;*.VOB|MPEG File(*.mpg,*.MPG)|*.mpg;*.MPG|"},
    {"STR_ABOUT_LABLE_Version", "Version"},
    {"STR_ABOUT_BUTTON_OK", "OK"},
    {"STR_AVISETTING_LABEL_AUDIOCODECNAME", "Audio Codec Name"},
    {"STR_AVISETTING_LABEL_AUDIOCODECINFO", "Audio Codec Info"},
    {"STR_AVISETTING_LABEL_EXPORT", "Export"},
    {"STR_AVISETTING_LABEL_VIDEOCODEC", "Video Codec"},
    {"STR_AVISETTING_COMBO_EXPORT_0", "RGB32"},
    {"STR_AVISETTING_COMBO_EXPORT_1", "RGB24"},
    {"STR_AVISETTING_COMBO_EXPORT_2", "YU12"},
    {"STR_AVISETTING_COMBO_EXPORT_3", "YUV2"},
    {"STR_AVISETTING_COMBO_AUDIOCODEC_0", "Disabled"},
    {"STR_AVISETTING_COMBO_AUDIOCODEC_1", "Store to Wav"},
    {"STR_AVISETTING_COMBO_AUDIOCODEC_2", "Use Lame"},
    {"STR_AVISETTING_COMBO_AUDIOCODEC_3", "Use ACM"},
    {"STR_AVISETTING_GROUP_EXPERTSETTING", "Expert Setting"},
    {"STR_AVISETTING_GROUP_AVI", "AVI"},
    {"STR_AVISETTING_CHECK_ENABLEPASS1", "Enable Pass 1"},
    {"STR_AVISETTING_CHECK_ENABLEPASS2", "Enable Pass 2"},
    {"STR_AVISETTING_BUTTON_AUDIOCODEC", "Audio Codec..."},
    {"STR_AVISETTING_BUTTON_PASS1SETTING", "Pass 1 Setting..."},
    {"STR_AVISETTING_BUTTON_PASS2SETTING", "Pass 2 Setting..."},
    {"STR_GENERAL_LABEL_PREVIEWASPECTRATIO", "Preview Aspect Ratio"},
    {"STR_GENERAL_LABEL_RENDERING", "Rendering"},
    {"STR_GENERAL_GROUP_PREVIEW", "Preview"},
    {"STR_GENERAL_COMBO_RENDERING_0", "RGB"},
    {"STR_GENERAL_COMBO_RENDERING_1", "YUV"},
    {"STR_GENERAL_COMBO_PREVIEWASPECTRATIO_0", "4/3"},
    {"STR_GENERAL_COMBO_PREVIEWASPECTRATIO_1", "16/9"},
    {"STR_GENERAL_COMBO_PREVIEWASPECTRATIO_2", "Free"},
    {"STR_GLOBAL_LABEL_DEINTERLACEFILTER", "Deinterlace Filter"},
    {"STR_GLOBAL_LABEL_DOWNSAMPLING", "Down Sampling"},
    {"STR_GLOBAL_LABEL_GAIN", "Gain"},
    {"STR_GLOBAL_LABEL_IDCT", "iDCT"},
    {"STR_GLOBAL_LABEL_LOCATION", "Location"},
    {"STR_GLOBAL_LABEL_OFFSET", "Offset"},
    {"STR_GLOBAL_LABEL_OUTPUTFRAMERATE", "Output Frame Rate"},
    {"STR_GLOBAL_LABEL_SIZE", "Size"},
    {"STR_GLOBAL_LABEL_SUBTITLEOFFSET", "Subtitle Offset"},
    {"STR_GLOBAL_LABEL_VOLUME", "Volume"},
    {"STR_GLOBAL_CHECK_AVSYNCH", "A/V Synch"},
    {"STR_GLOBAL_CHECK_DETECT24FPS", "Detect 24 Fps"},
    {"STR_GLOBAL_CHECK_DOLBY", "Dolby Surround"},
    {"STR_GLOBAL_CHECK_ENABLELUMINANCE", "Enable Luminance"},
    {"STR_GLOBAL_CHECK_FORCE24FPS", "Force 24 Fps"},
    {"STR_GLOBAL_CHECK_ORIGINALCOLOR", "Original Color"},
    {"STR_GLOBAL_CHECK_USEASPI", "Use ASPI"},
    {"STR_GLOBAL_GROUP_AUDIO", "Audio"},
    {"STR_GLOBAL_GROUP_LUMINANCE", "Luminance"},
    {"STR_GLOBAL_GROUP_SAVEDVDDRIVER", "Read Buffer"},
    {"STR_GLOBAL_GROUP_SUBTITLE", "Subtitle"},
    {"STR_GLOBAL_GROUP_VIDEO", "Video"},
    {"STR_GLOBAL_COMBO_DEINTERLACE_0", "None"},
    {"STR_GLOBAL_COMBO_DEINTERLACE_1", "Odd Field"},
    {"STR_GLOBAL_COMBO_DEINTERLACE_2", "Even Field"},
    {"STR_GLOBAL_COMBO_DEINTERLACE_3", "Interpolate"},
    {"STR_GLOBAL_COMBO_DOWNSAMPLING_0", "Normal quality 48.0KHz to 44.1KHz"},
    {"STR_GLOBAL_COMBO_DOWNSAMPLING_1", "High quality (slow) 48.0KHz to 44.1KHz"},
    {"STR_GLOBAL_COMBO_DOWNSAMPLING_2", "Export AC3 stream"},
    {"STR_GLOBAL_COMBO_DOWNSAMPLING_3", "44.1 KHz (no conversion)"},
    {"STR_GLOBAL_COMBO_DOWNSAMPLING_4", "48.0 KHz (no conversion)"},
    {"STR_GLOBAL_COMBO_IDCT_0", "MMX"},
    {"STR_GLOBAL_COMBO_IDCT_1", "Reference (IEEE 1180)"},
    {"STR_GLOBAL_COMBO_IDCT_2", "Floating Point"},
    {"STR_GLOBAL_COMBO_IDCT_3", "SSE2"},
    {"STR_GLOBAL_COMBO_IDCT_4", "SSE/3DNow+"},
    {"STR_GLOBAL_COMBO_LOCATION_0", "RAM"},
    {"STR_GLOBAL_COMBO_LOCATION_1", "Hard Disk"},
    {"STR_GLOBAL_COMBO_OUTPUTFRAMERATE_0", "23.976 (NTSC)"},
    {"STR_GLOBAL_COMBO_OUTPUTFRAMERATE_1", "24.0"},
    {"STR_GLOBAL_COMBO_OUTPUTFRAMERATE_2", "25.0 (PAL)"},
    {"STR_GLOBAL_COMBO_OUTPUTFRAMERATE_3", "29.97 (NTSC)"},
    {"STR_GLOBAL_COMBO_OUTPUTFRAMERATE_4", "30.0"},
    {"STR_MPEGSETTING_LABEL_CACULATION", "Calculation"},
    {"STR_MPEGSETTING_LABEL_EXPORT", "Export"},
    {"STR_MPEGSETTING_LABEL_IDCT", "DCT"},
    {"STR_MPEGSETTING_LABEL_MOTIONSEARCH", "Motion Search"},
    {"STR_MPEGSETTING_LABEL_MUXRATE", "Mux Rate"},
    {"STR_MPEGSETTING_LABEL_QUANT", "Quant Matrix"},
    {"STR_MPEGSETTING_LABEL_VBVBUFFER", "VBV Buffer"},
    {"STR_MPEGSETTING_CHECK_PULLDOWN", "Pulldown 3:2"},
    {"STR_MPEGSETTING_GROUP_EXPERTSETTING", "Expert Setting"},
    {"STR_MPEGSETTING_GROUP_MPEG", "MPEG"},
    {"STR_MPEGSETTING_COMBO_CACULATION_0", "MMX"},
    {"STR_MPEGSETTING_COMBO_CACULATION_1", "3DNow"},
    {"STR_MPEGSETTING_COMBO_CACULATION_2", "SSE2 (P4)"},
    {"STR_MPEGSETTING_COMBO_CACULATION_3", "Normal"},
    {"STR_MPEGSETTING_COMBO_EXPORT_0", "RGB32"},
    {"STR_MPEGSETTING_COMBO_EXPORT_1", "RGB24"},
    {"STR_MPEGSETTING_COMBO_EXPORT_2", "YU12"},
    {"STR_MPEGSETTING_COMBO_EXPORT_3", "YUV2"},
    {"STR_MPEGSETTING_COMBO_IDCT_0", "MMX"},
    {"STR_MPEGSETTING_COMBO_IDCT_1", "SSE2 (P4)"},
    {"STR_MPEGSETTING_COMBO_IDCT_2", "FPU (Best Quality)"},
    {"STR_MPEGSETTING_COMBO_MOTIONSEARCH_0", "Normal (Fast)"},
    {"STR_MPEGSETTING_COMBO_MOTIONSEARCH_1", "Good"},
    {"STR_MPEGSETTING_COMBO_MOTIONSEARCH_2", "High (Slow)"},
    {"STR_MPEGSETTING_COMBO_MOTIONSEARCH_3", "Very High"},
    {"STR_MPEGSETTING_COMBO_QUANT_0", "Default"},
    {"STR_MPEGSETTING_COMBO_QUANT_1", "Standard"},
    {"STR_PREFERENCE_BUTTON_OK", "OK"},
    {"STR_PREFERENCE_BUTTON_AC3", "AC3 Out Select"},
    {"STR_PREFERENCE_BUTTON_CANCEL", "Cancel"},
    {"STR_PREFERENCE_TAB_GENERAL", "General"},
    {"STR_PREFERENCE_TAB_GLOBAL", "Global"},
    {"STR_PREFERENCE_TAB_AVI", "AVI Specific"},
    {"STR_PREFERENCE_TAB_MPEG", "MPEG Specific"},
    {"STR_PROPERTIES_BUTTON_OK", "OK"},
    {"STR_PROPERTIES_BUTTON_CANCEL", "Cancel"},
    {"STR_PROPERTIES_BUTTON_AC3", "AC3 Out Select"},
    {"STR_PROPERTIES_TAB_PROPERTY", "Property"},
    {"STR_PROPERTY_LABEL_ASPECTRATION", "Aspect Ratio"},
    {"STR_PROPERTY_LABEL_DEINTERLACE", "Deinterlace"},
    {"STR_PROPERTY_LABEL_DWONSAMPLING", "Down Sampling"},
    {"STR_PROPERTY_LABEL_GAIN", "Gain"},
    {"STR_PROPERTY_LABEL_INPUTFRAMERATE", "Input Frame Rate"},
    {"STR_PROPERTY_LABEL_INPUTRESOLUTION", "Input Resolution"},
    {"STR_PROPERTY_LABEL_OFFSET", "Offset"},
    {"STR_PROPERTY_LABEL_OUTPUTFRAMERATE", "Output Frame Rate"},
    {"STR_PROPERTY_LABEL_OUTPUTRESOLUTION", "Output Resolution"},
    {"STR_PROPERTY_LABEL_SAMPLEFRENQUENCY", "Sample Frequency"},
    {"STR_PROPERTY_LABEL_SUBTITLEOFFSET", "Subtitle Offset"},
    {"STR_PROPERTY_LABEL_VOLUME", "Volume"},
    {"STR_PROPERTY_LABEL_VIDEOBITRATE", "Video Bit Rate"},
    {"STR_PROPERTY_LABEL_AUDIOBITRATE", "Audio Bit Rate"},
    {"STR_PROPERTY_CHECK_AVSYNCH", "A/V Synch"},
    {"STR_PROPERTY_CHECK_DETECT24FPS", "Detect 24 Fps"},
    {"STR_PROPERTY_CHECK_FORCE24FPS", "Force 24 Fps"},
    {"STR_PROPERTY_CHECK_DOLBY", "Dolby Surround"},
    {"STR_PROPERTY_CHECK_ORIGINALCOLOR", "Original Color"},
    {"STR_PROPERTY_CHECK_ENABLELUMINANCE", "Enable Luminance"},
    {"STR_PROPERTY_GROUP_AUDIO", "Audio"},
    {"STR_PROPERTY_GROUP_LUMINANCE", "Luminance"},
    {"STR_PROPERTY_GROUP_VIDEO", "Video"},
    {"STR_PROPERTY_GROUP_RESOLUTION", "Resolution"},
    {"STR_PROPERTY_GROUP_SUBTITLE", "Subtitle"},
    {"STR_PROPERTY_COMBO_DOWNSAMPLING_0", "Normal quality 48.0KHz to 44.1KHz"},
    {"STR_PROPERTY_COMBO_DOWNSAMPLING_1", "High quality (slow) 48.0KHz to 44.1KHz"},
    {"STR_PROPERTY_COMBO_DOWNSAMPLING_2", "Export AC3 stream"},
    {"STR_PROPERTY_COMBO_DOWNSAMPLING_3", "44.1 KHz (no conversion)"},
    {"STR_PROPERTY_COMBO_DOWNSAMPLING_4", "48.0 KHz (no conversion)"},
    {"STR_PROPERTY_COMBO_OUTPUTFRAMERATE_0", "23.976 (NTSC)"},
    {"STR_PROPERTY_COMBO_OUTPUTFRAMERATE_1", "24.0"},
    {"STR_PROPERTY_COMBO_OUTPUTFRAMERATE_2", "25.0 (PAL)"},
    {"STR_PROPERTY_COMBO_OUTPUTFRAMERATE_3", "29.97 (NTSC)"},
    {"STR_PROPERTY_COMBO_OUTPUTFRAMERATE_4", "30.0"},
    {"STR_PROPERTY_COMBO_DEINTERLACE_0", "None"},
    {"STR_PROPERTY_COMBO_DEINTERLACE_1", "Odd Field"},
    {"STR_PROPERTY_COMBO_DEINTERLACE_2", "Even Field"},
    {"STR_PROPERTY_COMBO_DEINTERLACE_3", "Interpolate"},
    {"STR_LAME_LABEL_BITRATE", "Bit Rate"},
    {"STR_LAME_LABEL_CHANNEL", "Channel"},
    {"STR_LAME_LABEL_HIGHPASS", "Highpass"},
    {"STR_LAME_LABEL_LOWPASS", "Lowpass"},
    {"STR_LAME_LABEL_HZ", "Hz"},
    {"STR_LAME_LABEL_QUALITY", "Quality"},
    {"STR_LAME_BUTTON_OK", "OK"},
    {"STR_LAME_BUTTON_CANEL", "Cancel"},
    {"STR_LAME_GROUP_FILTER", "Filtering (-1 to disable)"},
    {"STR_SIZE_LABEL_MB", "MB"},
    {"STR_SIZE_LABEL_VOLUME", "Volume"},
    {"STR_SIZE_BUTTON_OK", "OK"},
    {"STR_SIZE_BUTTON_CANCEL", "Cancel"},
    {"STR_SCROP_LABEL_INFO",
     "    If you set Y1 lower than 0 or Y2  greater than height , Black bands will be automaticaly "
     "added."},
    {"STR_SCROP_LABEL_X1", "X1"},
    {"STR_SCROP_LABEL_X2", "X2"},
    {"STR_SCROP_LABEL_Y1", "Y1"},
    {"STR_SCROP_LABEL_Y2", "Y2"},
    {"STR_SCROP_BUTTON_CANCEL", "Cancel"},
    {"STR_SCROP_BUTTON_OK", "OK"},
    {"STR_SCROP_BUTTON_DEFAULT", "Default"},
    {"STR_ABOUT_Title", "About"},
    {"STR_AVISETTING_TITLE", "AVI Setting"},
    {"STR_PREFERENCE_TITLE", "Preference"},
    {"STR_PROPERTIES_TITLE", "Properties"},
    {"STR_LAME_TITLE", "Lame Setting"},
    {"STR_SIZE_TITLE", "Size"},
    {"STR_SCROP_TITLE", "Scrop"},
    {"STR_ERROR_0", "Buffer size must ne greater then 1MB.\r\nReset buffer size to 1Meg."},
    {"STR_ERROR_1",
     "If you want to make overlap avoid a big buffer size (>20Meg). \r\nYou may get unwanted "
     "result."},
    {"STR_ERROR_2",
     "If you choose a large RAM buffer,\r\nYou may disabe virtual memory to get more speed."},
    {"STR_ERROR_3", "Cannot check standart of file generated by a plugin."},
    {"STR_ERROR_4", "Not an MPEG file."},
    {"STR_ERROR_5", "Compliant"},
    {"STR_ERROR_6", "Please run P4 release for P4 filtering."},
    {"STR_ERROR_7", "Video player initialisation failed."},
    {"STR_ERROR_8", "Sound player initialisation failed."},
    {"STR_ERROR_9", "Invalid output Dimension. \r\nCannot initialise resize filter."},
    {"STR_ERROR_10", "X1 must be greater than 0 and lower than"},
    {"STR_ERROR_11", "X2 must be greater than 0 and lower than"},
    {"STR_ERROR_12", "X2 must be greater X1"},
    {"STR_ERROR_13", "(x2-x1) must be greater than 16."},
    {"STR_ERROR_14", "Y2 must must be greater Y1."},
    {"STR_ERROR_15", "(y2-y1) must be greater than 16."},
    {"STR_ERROR_16", "Select volume in summary list."},
    {"STR_ERROR_17", "Only 16,24 and 32 bits color display mode are supported for rendering."},
    {"STR_ERROR_18", "Failed to initialise plugin."},
    {"STR_ERROR_19", "Stop process ?"},
    {"STR_ERROR_20",
     "Internal encoder cannot multiplex AC3. \r\nAC3 export works only with AVI and Premiere."},
    {"STR_ERROR_21",
     "Disable audio (output setting) if you want to export AC3 sound and do avi video."},
    {"STR_ERROR_22",
     "No volume is defined. \r\nDefine volume(s) in 'Volume cannot exceed' setting."},
    {"STR_ERROR_23", "Decoder not inited. \r\nOpen an IFO/MPEG file first."},
    {"STR_ERROR_24", "Cannot apply setting while encoding."},
    {"STR_ERROR_25", "No IFO file found in."},
    {"STR_ERROR_26",
     "To concatenate multiple file you must be sure that. \r\nall of them have same stream "
     "ID,dimension,etc... \r\nDo you want to continue ?"},
    {"STR_ERROR_28", "Stop encoder before exiting."},
    {"STR_ERROR_29", "The output resolution will be adjusted to"},
    {"STR_ERROR_30", "Do you want to continue ?"},
    {"STR_ERROR_31", "Failed to initialise player. \r\nYUV rendering not supported."},
    {"STR_ERROR_32", "RGB for playing works only in 65536 color mode."},
    {"STR_ERROR_33", "  already exists. \r\nOverwrite the file ?"},
    {"STR_ERROR_34",
     "Cannot open AVI file. Check that the directory exists \r\nand that the file is not used by "
     "another program."},
    {"STR_ERROR_35", "Failed to initialize Lame."},
    {"STR_ERROR_36", "Failed to open audio codec."},
    {"STR_ERROR_37", "Audio codec not selected."},
    {"STR_ERROR_38", "Video codec not selected."},
    {"STR_ERROR_39",
     "Video codec wrong dimension or format. \r\nYou have to reselect video codec each time. "
     "\r\nYou change the output resolution or export format (RGB,YUV)."},
    {"STR_ERROR_40", "Lame internal error."},
    {"STR_ERROR_41", "Disabled"},
    {"STR_ERROR_42", "Lame library not loaded."},
    {"STR_ERROR_43", "Not selected"},
    {"STR_ERROR_44", "Only RGB or YUY2 for AVI coding supported."},
    {"STR_ERROR_45", "Cannot load nLame.dll."},
    {"STR_ERROR_47", "WNASPI32 driver initialisation failed."},
    {"STR_ERROR_50", "Unable to read from"},
    {"STR_ERROR_51", "Unable to open for input"},
    {"STR_ERROR_52", "Unable to parse as an IFO-File."},
    {"STR_ERROR_53", "IFO parsing failed."},
    {"STR_ERROR_54", "Cannot open temporary file."},
    {"STR_ERROR_55", "Cannot allocate memory for the temporary buffer :("},
    {"STR_ERROR_56", "Cannot write to temporary file."},
    {"STR_ERROR_59", "Audio format not supported."},
    {"STR_ERROR_60",
     "Warning the output and input frame rate are not equal. \r\nPull down (up) will be "
     "performed."},
    {"STR_ERROR_61", "Failed to parse file, no sequence header found."},
    {"STR_ERROR_62", "Failed to parse file, no frame found."},
    {"STR_ERROR_63",
     "Sample not found or audio decoding error. \r\nIt happens sometimes at begining or end of "
     "movie. \r\nSelect continue will fill audio buffer with blank. \r\nContinue ?"},
    {"STR_ERROR_64", "Please run the P4 release for IDCT P4."},
    {"STR_ERROR_65", "Cannot export non AC3 track."},
    {"STR_ERROR_66", "MPEG2Dec: Error during decoder initialisation."},
    {"STR_ERROR_67", "MPEG2Dec: Error during reading input file."},
    {"STR_ERROR_68", "MPEG2Dec: Error during seeking input file."},
    {"STR_ERROR_69", "MPEG2Dec: too much frames."},
    {"STR_ERROR_70",
     "MPEG2Dec: Too much sample. \r\nTry other frame rate or change 'Detect/Force 24 Hz' flag."},
    {"STR_ERROR_71", "Scanning"},
    {"STR_ERROR_72", "Buffering vob file on HDD."},
    {"STR_ERROR_73", "Buffering vob file in RAM."},
    {"STR_ERROR_75", "Unable to write to file."},
    {"STR_ERROR_76", "Invalid project file."},
    {"STR_ERROR_77", "Your computer cannot shutdown, Check the user priviledges."},
    {"STR_ERROR_78",
     "Cannot encode MPEG1/2 or Premiere file with 48KHz sound. (Use 44.1KHz conversion)."},
    {"STR_ERROR_79", "Cannot output 48KHz wave file. (Use 44.1KHz conversion)."},
    {"STR_ERROR_81",
     "You hacve selected 2 pass mode but you don't have selected \r\nthe codecfor the 2nd pass."},
    {"STR_ERROR_82",
     "Size splitting doesn't work in '2 pass AVI' mode. \r\nNevertheless you can split by "
     "chapters."},
    {"STR_ERROR_83", "You don't have selected the destination file name. Continue ?"},
    {"STR_ERROR_84", "This format is not supported by the plugin. Use RGB32."},
    {"STR_ERROR_85",
     "This format is not supported by the plugin. \r\nTry an other one RGB32,RGB24,YUY2,YV12."},
    {"STR_ERROR_86", "Failed to initialise video codec. Check export format (YUY2,RGB)."},
    {"STR_ERROR_87",
     "Wrong settings block for AVI video codec. \r\nThis happens when you don't configure the "
     "video codec. \r\nContinue ?"},
    {"STR_ERROR_100",
     "Video unit buffer full. \r\nCheck rate ctrl padd min and start. \r\nOr increase Audio Bit "
     "Rate. \r\nOr decrease Video Bit Rate."},
    {"STR_ERROR_101",
     "Audio unit buffer full. \r\nCheck rate ctrl padd min and start. \r\nOr increase Video Bit "
     "Rate. \r\nOr decrease Audio Bit Rate."},
    {"STR_ERROR_102",
     "20 is recommended for vbv buffer size when encoding MPEG1 VCD. \r\nWatch out for vbv "
     "underflow ! Continue ?"},
    {"STR_ERROR_103",
     "112 is recommended for vbv buffer size when encoding MPEG2 SVCD. \r\nWatch out for vbv "
     "underflow ! Continue ?"},
    {"STR_ERROR_106", "Can not Find The Output Directory."},
    {"STR_ERROR_200", "Scanning input stream..."},
    {"STR_ERROR_201", "Select the output path..."},
    {"STR_ERROR_202", "Select the DVD File path..."},
    {"STR_ERROR_210", "Plugin Initialzation Failed!"},
    {"STR_ERROR_211", "No corresponding vob file found."},
    {"STR_ERROR_300", "AVIStreamSetFormat(video) failed."},
    {"STR_ERROR_301", "ICSeqCompressFrameStart failed."},
    {"STR_ERROR_302", "AVIFileCreateStream failed."},
    {"STR_ERROR_303", "AVIStreamSetFormat(audio) failed."},
    {"STR_ERROR_304", "AVIMakeCompressedStream failed."},
    {"STR_ERROR_305", "AVIStreamSetFormat(video) failed. Check AVI codec settings."},
    {"STR_ERROR_306", "ICSeqCompressFrameStart failed. Check AVI codec settings."},
    {"STR_ERROR_307", "ICSeqCompressFrame failed."},
    {"STR_ERROR_308", "AVIStreamWrite failed with error"},
    {"STR_ERROR_309", "AVIStreamWrite failed."},
    {"STR_ERROR_310", "Audio codec lost data. Continue ?"},
    {"STR_ERROR_311", "Releasing AVI file."},
    {"STR_ERROR_312", "Releasing AVI file. Please wait and do not kill the application...."},
    {"STR_ERROR_313", "Error initializing audio stream compression."},
    {"STR_ERROR_314", "Buffering vob file on HDD."},
    {"STR_ERROR_315", "Buffering vob file in RAM."},
    {"STR_ERROR_318", "Wrong drive index."},
    {"STR_ERROR_319", "RAVAZez: Could not open intra quant matrix file."},
    {"STR_ERROR_320", "Invalid value in intra quant matrix file."},
    {"STR_ERROR_321", "Cannot allocate memory for clip table."},
    {"STR_ERROR_322", "RAVAZez: Cannot allocate memory for old ref frame."},
    {"STR_ERROR_323", "RAVAZez: Cannot allocate memory for aux frame."},
    {"STR_ERROR_324", "RAVAZez: Cannot allocate memory for old org frame."},
    {"STR_ERROR_325", "RAVAZez: Cannot allocate memory for aux org frame."},
    {"STR_ERROR_326", "RAVAZez: Cannot allocate memory for pred frame."},
    {"STR_ERROR_327", "RAVAZez: Cannot allocate memory for mb info."},
    {"STR_ERROR_328", "RAVAZez: Cannot allocate memory for blocks."},
    {"STR_ERROR_329", "RAVAZez: Unable to write to output file."},
    {"STR_ERROR_330", "RAVAZez: Video encoding error at frame"},
    {"STR_ERROR_331", "RAVAZez: Cannot allocate memory for new org frame."},
    {"STR_ERROR_332", "RAVAZez: Unable to allocate memory for bitstream."},
    {"STR_ERROR_333", "RAVAZez: Data buffer full.."},
    {"STR_ERROR_334", "RAVAZez: Unable to read file."},
    {"STR_ERROR_335", "RAVAZez: Unable to allocate memory for bitstream file."},
    {"STR_ERROR_336", "RAVAZez: Unable to read from file"},
    {"STR_ERROR_337", "RAVAZez: Could not allocate memory for u422."},
    {"STR_ERROR_338", "RAVAZez: Could not allocate memory for v422."},
    {"STR_ERROR_339", "RAVAZez: Unknown audio sampling rate."},
    {"STR_ERROR_340", "RAVAZez: Could not allocate memory for audio buffers."},
    {"STR_ERROR_341", "RAVAZez: Could not bufferize audio data."},
    {"STR_ERROR_342", "RAVAZez: Unable to allocate memory for queue_buffer."},
    {"STR_ERROR_343", "RAVAZez: Unable to get first audio info."},
    {"STR_ERROR_344", "RAVAZez: Unable to get first video units."},
    {"STR_ERROR_345", "RAVAZez: Unable to seek position in output program file."},
    {"STR_ERROR_346", "RAVAZez: Unable to write to output file."},
    {"STR_ERROR_347", "RAVAZez: Unable to allocate memory for sector."},
    {"STR_ERROR_348", "RAVAZez: Invalid chroma format (Only 444 or 420 allowed)."},
    {"STR_ERROR_349", "RAVAZez: Invalid dimension (must be multiple of 16)."},
    {"STR_ERROR_350", "RAVAZez: No AMD with 3DNow support dettected."},
    {"STR_ERROR_351", "RAVAZez: Execute P4 release."},
    {"STR_ERROR_352", "RAVAZez: Invalid frame rate."},
    {"STR_ERROR_353", "RAVAZez: Pulldown 3:2 cannot be performed, check frame rate."},
    {"STR_ERROR_354", "RAVAZez: Too much audio samples."},
    {"STR_ERROR_355", "RAVAZez: Could not get audio data at sample."},
    {"STR_ERROR_356", "RAVAZez: Unable to open SVCD temporary file."},
    {"STR_ERROR_357", "RAVAZez: Unable to open program file."},
    {"STR_ERROR_358", "RAVAZez: Unable to write to program file."},
    {"STR_ERROR_359", "Unable to flush the buffers of program file."},
    {"STR_ERROR_360", "Unable to set the end of file for program file."},
    {"STR_ERROR_361", "RAVAZez: Unable to seek position in SVCD temporary file."},
    {"STR_ERROR_362", "RAVAZez: Unable to read from SVCD temporary file."},
    {"STR_ERROR_363", "Computing SVCD scan offsets."},
    {"STR_ERROR_364", "Unable to write to SVCD temporary file."},
    {"STR_ERROR_400", "DC value out of range."},
    {"STR_ERROR_401", "AC value out of range."},
    {"STR_ERROR_402", "Error putting frame #"},
    {"STR_ERROR_403", "Computing SVCD scan offsets :"},
    {"STR_ERROR_404", "Could not find User Data at I-frame "},
    {"STR_ERROR_405", "in file"},
    {"STR_ERROR_406", " already exists. Overwrite it?"},
    {"STR_ERROR_500", "Please run the P4 release for IDCT P4."},
    {"STR_ERROR_501", "Cannot export non AC3 track."},
    {"STR_ERROR_502", "MPEG2Dec: Error during decoder initialization."},
    {"STR_ERROR_503", "MPEG2Dec: Error during reading input file."},
    {"STR_ERROR_504", "MPEG2Dec: Error during seeking input file."},
    {"STR_ERROR_505", "Failed to parse file, no sequence header found."},
    {"STR_ERROR_506", "Failed to parse file, no frame found."},
    {"STR_ERROR_507", "MPEG2Dec: too many frames."},
    {"STR_ERROR_508", "YV12 not supported yet."},
    {"STR_ERROR_1000", "Are you sure to exit?"},
    {"STR_ERROR_1001", "Plugin failure"},
    {"STR_ERROR_1002", "Initialize internal encoder."},
    {"STR_ERROR_1003", "Load system config file failed!"},
    {"STR_PREFERENCE_DLG_AC3Title", "Current AC3 : %s"},
    {"STR_AVISETTING_DLG_SelectAudioCodec", "Select Audio Codec"},
    {"STR_LAME_COMBO_BITRATE", "%d KBits"},
    {"STR_LAME_COMBO_CHANNEL_0", "Stereo"},
    {"STR_LAME_COMBO_CHANNEL_1", "Join Stereo"},
    {"STR_LAME_COMBO_QUALITY_0", "Q1 Very High"},
    {"STR_LAME_COMBO_QUALITY_1", "Q2"},
    {"STR_LAME_COMBO_QUALITY_2", "Q3 High"},
    {"STR_LAME_COMBO_QUALITY_3", "Q4"},
    {"STR_LAME_COMBO_QUALITY_4", "Q5 Medium"},
    {"STR_LAME_COMBO_QUALITY_5", "Q6"},
    {"STR_LAME_COMBO_QUALITY_6", "Q7"},
    {"STR_LAME_COMBO_QUALITY_7", "Q8 Poor"},
    {"STR_PROPERTY_COMBO_AUDIOBITRATE", "%d"},
    {"STR_PROPERTY_FORMAT_INPUTRESOLUTION", "%d X %d"},
    {"STR_PROPERTY_FORMAT_INPUTFRAMERATE", "%.3f"},
    {"STR_PROPERTY_FORMAT_SAMPLEFREQUENCY", "%d"},
    {"STR_ABOUT_LABEL_Description",
     "Converts the titles of a DVD into MPEG-1, MPEG-2 (VCD, SVCD, DVD) and AVI files."},
    {"STR_CODEC_TITLE", "%s - Pass %d"},
    {"STR_CODEC_LABEL_BITRATE", "Bit Rate (kbit/s)"},
    {"STR_CODEC_LABEL_QUANTIZER", "Quantizer (0 = by bit rate)"},
    {"STR_CODEC_LABEL_QUALITY", "Quality (0 fast - 6 best)"},
    {"STR_CODEC_LABEL_KEYINT", "Key-frame interval"},
    {"STR_CODEC_NOSETTINGS", "This video codec has no settings."},
    {"STR_CODEC_REFUSED", "The video codec refused these settings."},
    {"STR_DESKTOP_InhibitReason", "Converting a DVD"},
    {"STR_DESKTOP_NotifyRipDone", "Rip finished"},
    {"STR_DESKTOP_NotifyRipCancelled", "Rip cancelled"},
    {"STR_DESKTOP_NotifyOneTitle", "1 title ripped."},
    {"STR_DESKTOP_NotifyTitles", "%d titles ripped."},
    {"STR_DESKTOP_ShutdownTitle", "Switch Off"},
    {"STR_DESKTOP_ShutdownText",
     "The rip is done. The computer will be switched off in %d seconds."},
    {"STR_DESKTOP_ShutdownNow", "Switch Off Now"},
    {"STR_DESKTOP_ShutdownCancel", "Cancel"},
    {"STR_DESKTOP_HelpNotFound", "The help page could not be opened."},
    {"STR_DESKTOP_OpenDiscImage", "Open Disc Image..."},
    {"STR_DESKTOP_DiscImageFilter", "Disc Images"},
    {"STR_ERROR_PriorityRefused",
     "The system refused this priority. Raising the priority of a program needs root rights or "
     "the CAP_SYS_NICE capability; Zembra goes on at its old priority."},
    {"STR_MAIN_MENUBAR_File", "File"},
    {"STR_MAIN_MENUBAR_Setting", "Setting"},
    {"STR_MAIN_MENUBAR_Tools", "Tools"},
    {"STR_MAIN_MENU_EDIT_Rename", "Rename"},
    {"STR_MAIN_MENU_SETTING_ShutDown", "Switch Off When Done"},
    {"STR_MAIN_DLG_SaveFailed", "The settings could not be saved to "},
    {"STR_MAIN_LABEL_MONITOR_ReadyToEncode", "Ready to encode"},
    {"STR_MAIN_LABEL_MONITOR_ScanOffsetDone", "Scan offset done"},
    {"STR_ERROR_OutputTooLarge",
     "The output size is too large for this format: MPEG-1 pictures are at most 4095 x 4095 "
     "pixels, MPEG-2 pictures at most 16383 x 16383."},
    {"STR_ERROR_OutputSide4096",
     "MPEG-2 pictures cannot be 4096, 8192 or 12288 pixels wide or high; choose another output "
     "size."},
    {"STR_ERROR_OutputBusy",
     "is being written by another rip at this moment; it was left as it is."},
    {"STR_ERROR_SourceEndedEarly",
     "The source files end before the title does. The output holds what could be read."},
    {"STR_ERROR_TransportStream",
     "is an MPEG transport stream (a DVB, camcorder or Blu-ray recording), which Zembra does not "
     "read. Zembra reads DVD titles, MPEG program streams (VOB, MPG) and MPEG video streams; remux "
     "the recording into an MPEG program stream first."},
    {"STR_ERROR_OtherContainer",
     "is a video file of another kind (MP4, Matroska, AVI, Ogg, ASF or FLV), which Zembra does "
     "not read. Zembra reads DVD titles, MPEG program streams (VOB, MPG) and MPEG video streams; "
     "remux its MPEG video into an MPEG program stream first."},
    {"STR_ERROR_Mp3Audio",
     "is MPEG audio Layer III (MP3), which Zembra does not decode. Zembra decodes AC-3, LPCM and "
     "MPEG audio Layers I and II."},
    {"STR_ERROR_CssScrambled",
     "This title is CSS-scrambled (copy-protected). Zembra reads such discs through the libdvdcss "
     "library: install the package libdvdcss2 and open the disc drive or a disc image (copied "
     "files carry no keys). Title:"},
    {"STR_CLI_COMBO_Resize_0", "Nearest neighbour"},
    {"STR_CLI_COMBO_Resize_1", "Bilinear"},
    {"STR_CLI_COMBO_Resize_2", "Bilinear MMX"},
    {"STR_CLI_COMBO_Resize_3", "BiLinear SSE/3Dnow+"},
    {"STR_CLI_COMBO_Resize_4", "Bilinear SSE2 (P4)"},
    {"STR_CLI_COMBO_Resize_5", "BiCubic"},
    {"STR_CLI_COMBO_Resize_6", "BiCubic SSE/3Dnow+"},
    {"STR_CLI_COMBO_Resize_7", "TAP Bilinear"},
    {"STR_CLI_COMBO_Resize_8", "TAP Bilinear MMX"},
    {"STR_CLI_COMBO_Resize_9", "TAP Bilinear SSE"},
    {"STR_CLI_COMBO_Resize_10", "TAP Bilinear SSE2"},
    {"STR_CLI_COMBO_Resize_11", "TAP Bicubic"},
    {"STR_CLI_COMBO_Resize_12", "TAP BiCubic SSE"},
    {"STR_ERROR_OutputRemoved",
     "was removed, or its folder, while it was written; the rip kept nothing."},
    {"STR_ERROR_SectorsSkipped",
     "Unreadable sectors of the disc (scratched or damaged) were skipped; the output is written "
     "but lacks their pictures and sound. Sectors skipped, and the playing times where:"},
    {"STR_ERROR_NoOutputFrame",
     "The title is shorter than one picture at the output frame rate, so its file holds no "
     "picture. Choose a higher output frame rate to keep it."},
    {"STR_ERROR_SoundNotDecoded",
     "The chosen audio track is DTS, which this program cannot decode: the output's sound is "
     "silence. Choose another audio track for sound."},
    {"STR_PROPERTY_LABEL_CHAPTERFROM", "Chapters from"},
    {"STR_PROPERTY_LABEL_CHAPTERTO", "to"},
    {"STR_MPEGSETTING_LABEL_THREADS", "Threads (0 = one per core)"},
    {"STR_ERROR_ChapterRange",
     "The row's chapter range lies outside its title, so the row was not ripped. Range asked for "
     "and the title's chapters:"},
    {"STR_CLI_COMBO_Resize_13", "Lanczos (centred)"},
    {"STR_MPEGSETTING_LABEL_RESIZE", "Resize"},
    {"STR_MPEGSETTING_COMBO_MOTIONSEARCH_4", "Best"},
    {"STR_MPEGSETTING_LABEL_ADAPTIVEQUANT", "Adaptive Quantization"},
    {"STR_MPEGSETTING_COMBO_ADAPTIVEQUANT_0", "None"},
    {"STR_MPEGSETTING_COMBO_ADAPTIVEQUANT_1", "Weak"},
    {"STR_MPEGSETTING_COMBO_ADAPTIVEQUANT_2", "Medium"},
    {"STR_MPEGSETTING_COMBO_ADAPTIVEQUANT_3", "Strong"},
    {"STR_MPEGSETTING_COMBO_ADAPTIVEQUANT_4", "Full"},
};

constexpr size_t kEntryCount = sizeof(kEntries) / sizeof(kEntries[0]);
constexpr std::string_view kSection = "Zembra";

const std::unordered_map<std::string_view, size_t>& keyIndex() {
    static const std::unordered_map<std::string_view, size_t> index = [] {
        std::unordered_map<std::string_view, size_t> m;
        for (size_t i = 0; i < kEntryCount; ++i) m.emplace(kEntries[i].key, i);
        return m;
    }();
    return index;
}

bool isBlankText(std::string_view s) {
    for (char c : s)
        if (!std::isspace(static_cast<unsigned char>(c))) return false;
    return true;
}

// One value through the profile read's buffer: 128 bytes, or the length of
// the text in force + 1 when that is more, doubled while the value fills it
// (a result of size - 1 characters may have been cut). A key the file lacks
// keeps the text in force whole: the profile read would drop its trailing
// blanks, and the monitor labels end in a blank that matters.
std::optional<std::string> readValue(const ProfileFile& file, std::string_view key,
                                     size_t currentLength) {
    if (!file.get(kSection, key)) return std::nullopt;
    size_t size = currentLength + 1 >= 128 ? currentLength + 1 : 128;
    std::vector<char> buffer;
    for (;;) {
        buffer.resize(size);
        int copied =
            profile::getString(file, kSection, key, "", buffer.data(), static_cast<int>(size));
        if (static_cast<size_t>(copied) != size - 1 || size > kMaxProfileFileSize)
            return std::string(buffer.data(), static_cast<size_t>(copied));
        size *= 2;
    }
}

}  // namespace

StringTable::StringTable() { release(); }

void StringTable::release() {
    current_.assign(kEntryCount, std::string());
    for (size_t i = 0; i < kEntryCount; ++i) current_[i] = kEntries[i].text;
}

std::string StringTable::fromFileText(std::string_view fileText) {
    std::string out;
    out.reserve(fileText.size());
    for (size_t i = 0; i < fileText.size(); ++i) {
        if (fileText[i] == '\\' && i + 1 < fileText.size() && fileText[i + 1] == 'n') {
            out += "\r\n";
            ++i;
        } else {
            out.push_back(fileText[i]);
        }
    }
    return out;
}

std::string StringTable::toFileText(std::string_view text) {
    // A bare LF or CR would end the line in the file and cut the text (or
    // forge a key), so every kind of break becomes backslash-n.
    std::string out;
    out.reserve(text.size() + 8);
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
            out += "\\n";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c != '\0') {
            out.push_back(c);
        }
    }
    // Texts with blanks at either end ("Used Size: ") are written quoted to
    // survive the read.
    return profile::quoteIfNeeded(out);
}

bool StringTable::load(const std::filesystem::path& languageFile) {
    if (isBlankText(languageFile.string())) return true;
    return load(ProfileFile(languageFile));
}

bool StringTable::load(const ProfileFile& file) {
    for (size_t i = 0; i < kEntryCount; ++i) {
        if (auto value = readValue(file, kEntries[i].key, current_[i].size()))
            current_[i] = fromFileText(*value);
    }
    return true;
}

bool StringTable::save(const std::filesystem::path& languageFile) const {
    if (isBlankText(languageFile.string())) return false;
    ProfileFile file(languageFile);
    if (file.unreadable()) return false;
    saveTo(file);
    return file.save(languageFile);
}

void StringTable::saveTo(ProfileFile& file) const {
    for (size_t i = 0; i < kEntryCount; ++i)
        file.set(kSection, kEntries[i].key, toFileText(current_[i]));
}

const std::string& StringTable::text(std::string_view key) const {
    int i = indexOf(key);
    if (i >= 0) return current_[static_cast<size_t>(i)];
    unknown_ = std::string(key);
    return unknown_;
}

bool StringTable::setText(std::string_view key, std::string_view text) {
    int i = indexOf(key);
    if (i < 0) return false;
    current_[static_cast<size_t>(i)] = std::string(text);
    return true;
}

std::string_view StringTable::defaultText(std::string_view key) {
    int i = indexOf(key);
    return i < 0 ? std::string_view() : std::string_view(kEntries[i].text);
}

int StringTable::indexOf(std::string_view key) {
    auto it = keyIndex().find(key);
    return it == keyIndex().end() ? -1 : static_cast<int>(it->second);
}

const std::vector<std::string_view>& StringTable::keys() {
    static const std::vector<std::string_view> all = [] {
        std::vector<std::string_view> v;
        v.reserve(kEntryCount);
        for (const auto& e : kEntries) v.emplace_back(e.key);
        return v;
    }();
    return all;
}

}  // namespace zembra
