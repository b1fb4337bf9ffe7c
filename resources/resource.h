// Resource IDs of the Qe_Velumbra module: strings, dialog templates, the
// About bitmap and the dialog controls. Included by Qe_Velumbra.rc and by the
// C++ sources, so that both name every resource by the same number.
//
// Plain #defines only: the resource compiler reads this file too.
#pragma once

// --- string table --------------------------------------------------------
#define IDS_LIBDESCRIPTION              1
#define IDS_CATEGORY                    2
#define IDS_CLASS_NAME                  3
#define IDS_STARS_CREATION              4
#define IDS_STARS_DOMAIN_3D_FLAG        5
#define IDS_STARS_COUNT                 6
#define IDS_BRIGHT_STARS_COLOR          7
#define IDS_SEED                        8
#define IDS_COLOR_VARIANCE              9
#define IDS_DIM_STARS_COLOR             10
#define IDS_HYPERSPACE_DIRECTION        11
#define IDS_STARS_ALPHA_FLAG            12
#define IDS_STARS_ALPHA                 13
#define IDS_STARS_MATERIAL_ID_FLAG      14
#define IDS_STARS_MATERIAL_ID           15
#define IDS_STARS_OBJECT_ID_FLAG        16
#define IDS_STARS_OBJECT_ID             17
#define IDS_BRIGHT_STARS_SIZE           18
#define IDS_DIM_STARS_SIZE              19
#define IDS_OBJECT_ORIGIN               20
#define IDS_PICK_OBJECT                 21
#define IDS_USE_OBJECT_ORIGIN_FLAG      22
#define IDS_VELUMBRA_LIMITS             23
#define IDS_STARS_DOMAIN_3D_RADIUS      24
#define IDS_USE_CAMERA_FLAG             25
#define IDS_CAMERA                      26
#define IDS_PICK_CAMERA                 27
#define IDS_DURATION                    28
#define IDS_STARS_DIMMING               29
#define IDS_BAK_MATERIAL_ID_FLAG        30
#define IDS_BAK_MATERIAL_ID             31
#define IDS_BAK_OBJECT_ID_FLAG          32
#define IDS_BAK_OBJECT_ID               33
#define IDS_APPLY_METHOD                34
#define IDS_SCINTILLATION_EFFECT        35
#define IDS_MOTION_BLUR                 36
#define IDS_ABOUT                       37
#define IDS_APPLY                       38
#define IDS_HYPERSPACE_EFFECT           39
#define IDS_HYPERSPACE_DEPTH            40
#define IDS_HYPERSPACE_FLAG             41
#define IDS_SCINTILLATION_FLAG          42
#define IDS_SCINTILLATION_SEED          43
#define IDS_SCINTILLATION_FREQUENCY     44
#define IDS_SCINTILLATION_DX            45
#define IDS_SCINTILLATION_DY            46
#define IDS_SCINTILLATION_LOCK_DXY      47
#define IDS_SCINTILLATION_MULTIPLIER    48
#define IDS_SCINTILLATION_DIMMER        49
#define IDS_DURATION_SUBDIVISIONS       50
#define IDS_STARS_DIMMING_FILTER        51
#define IDS_RADIAL_DENSITY_BALANCE      52
#define IDS_BRIGHT_DIM_BALANCE          53
#define IDS_HS_DIRECTION_OBJECT         54
#define IDS_SKY                         55
#define IDS_STAR_SOURCE                 56
#define IDS_CATALOG_FILE                57
#define IDS_SKY_FRAME                   58
#define IDS_OBSERVER_LATITUDE           59
#define IDS_OBSERVER_LONGITUDE          60
#define IDS_OBSERVER_HEIGHT             61
#define IDS_OBSERVER_TIME               62
#define IDS_UT1_MINUS_UTC               63
#define IDS_MAGNITUDE_LIMIT             64
#define IDS_MAGNITUDE_ZERO              65
#define IDS_REFRACTION_FLAG             66
#define IDS_REFRACTION_PRESSURE         67
#define IDS_REFRACTION_TEMPERATURE      68
#define IDS_BELOW_HORIZON_FLAG          69
#define IDS_STAR_MIN_SIZE               70
#define IDS_STAR_GROWTH                 71
#define IDS_FILL_IN_FLAG                72

// --- dialog templates (one per rollout) ---------------------------------
#define IDD_STARS_CREATION              101
#define IDD_MOTION_BLUR                 102
#define IDD_SCINTILLATION               103
#define IDD_ABOUT                       104
#define IDD_APPLY                       105
#define IDD_HYPERSPACE                  106
#define IDD_SKY                         107

// --- bitmaps --------------------------------------------------------------
#define IDB_ABOUT                       106

// --- controls ---------------------------------------------------------------
// IDs are unique within a template only: 1013-1016 and 1041 are used by two
// templates each, under the names of their own template's controls.
#define IDC_STATIC                      -1

// Stars Creation (template 101)
#define IDC_STARSCOUNT_EDIT             1491
#define IDC_STARSCOUNT_SPIN             1497
#define IDC_SEED_EDIT                   1492
#define IDC_SEED_SPIN                   1498
#define IDC_USEOBJORIGIN_CHECK          1007
#define IDC_OBJECTORIGIN_PICK           1006
#define IDC_VELUMBRALIMIT_EDIT          1511
#define IDC_VELUMBRALIMIT_SPIN          1512
#define IDC_STARSDOMAIN3D_CHECK         1038
#define IDC_STARSDOMAIN3DRADIUS_EDIT    1039
#define IDC_STARSDOMAIN3DRADIUS_SPIN    1040
#define IDC_RADIALDENSITY_EDIT          1041
#define IDC_RADIALDENSITY_SLIDER        1042
#define IDC_DIMSTARSCOLOR_SWATCH        1001
#define IDC_BRIGHTSTARSCOLOR_SWATCH     1005
#define IDC_COLORVARIANCE_EDIT          1493
#define IDC_COLORVARIANCE_SPIN          1499
#define IDC_BRIGHTDIMBALANCE_EDIT       1043
#define IDC_BRIGHTDIMBALANCE_SLIDER     1044
#define IDC_DIMSTARSSIZE_EDIT           1507
#define IDC_DIMSTARSSIZE_SPIN           1508
#define IDC_BRIGHTSTARSSIZE_EDIT        1509
#define IDC_BRIGHTSTARSSIZE_SPIN        1510
#define IDC_STARSALPHA_CHECK            1002
#define IDC_STARSALPHA_EDIT             1496
#define IDC_STARSALPHA_SPIN             1502
#define IDC_STARSOBJECTID_CHECK         1004
#define IDC_STARSOBJECTID_EDIT          1505
#define IDC_STARSOBJECTID_SPIN          1506
#define IDC_STARSMATERIALID_CHECK       1003
#define IDC_STARSMATERIALID_EDIT        1503
#define IDC_STARSMATERIALID_SPIN        1504

// Motion Blur (template 102)
#define IDC_USECAMERA_CHECK             1008
#define IDC_CAMERA_PICK                 1009
#define IDC_DURATION_EDIT               1517
#define IDC_DURATION_SPIN               1518
#define IDC_SUBDIVISIONS_EDIT           1522
#define IDC_SUBDIVISIONS_SPIN           1523
#define IDC_STARSDIMMING_EDIT           1519
#define IDC_STARSDIMMING_SPIN           1520
#define IDC_STARSDIMMINGFILTER_SWATCH   1037

// Apply (template 105)
#define IDC_BAKOBJECTID_CHECK           1011
#define IDC_BAKOBJECTID_EDIT            1514
#define IDC_BAKOBJECTID_SPIN            1515
#define IDC_BAKMATERIALID_CHECK         1012
#define IDC_BAKMATERIALID_EDIT          1516
#define IDC_BAKMATERIALID_SPIN          1521
#define IDC_DRAWMODE_ADD_ALPHA          1013
#define IDC_DRAWMODE_ADD_INV_ALPHA      1014
#define IDC_DRAWMODE_ADD_SIMPLE         1015
#define IDC_DRAWMODE_APPLY              1016
#define IDC_DRAWMODE_FILTER             1018

// Hyperspace Effect (template 106)
#define IDC_HYPERSPACE_CHECK            1015
#define IDC_HYPERSPACEDEPTH_EDIT        1013
#define IDC_HYPERSPACEDEPTH_SPIN        1014
#define IDC_HSDIRECTION_CENTER          1016
#define IDC_HSDIRECTION_OBJECT_X        1017
#define IDC_HSDIRECTIONOBJECT_PICK      1041

// Scintillation Effect (template 103)
#define IDC_SCINTILLATION_CHECK         1021
#define IDC_SCINTSEED_EDIT              1022
#define IDC_SCINTSEED_SPIN              1023
#define IDC_SCINTFREQUENCY_EDIT         1024
#define IDC_SCINTFREQUENCY_SPIN         1025
#define IDC_SCINTDX_EDIT                1026
#define IDC_SCINTDX_SPIN                1027
#define IDC_SCINTDY_EDIT                1028
#define IDC_SCINTDY_SPIN                1029
#define IDC_SCINTLOCK_LOCK              1035
#define IDC_SCINTLOCK_UNLOCK            1036
#define IDC_SCINTMULTIPLIER_EDIT        1030
#define IDC_SCINTMULTIPLIER_SPIN        1031
#define IDC_SCINTDIMMER_EDIT            1032
#define IDC_SCINTDIMMER_SPIN            1033

// Sky (template 107)
#define IDC_STARSOURCE_GENERATED        1101
#define IDC_STARSOURCE_CATALOGUE        1102
#define IDC_CATALOGFILE_BUTTON          1103
#define IDC_MAGNITUDELIMIT_EDIT         1104
#define IDC_MAGNITUDELIMIT_SPIN         1105
#define IDC_MAGNITUDEZERO_EDIT          1106
#define IDC_MAGNITUDEZERO_SPIN          1107
#define IDC_STARMINSIZE_EDIT            1108
#define IDC_STARMINSIZE_SPIN            1109
#define IDC_STARGROWTH_EDIT             1110
#define IDC_STARGROWTH_SPIN             1111
#define IDC_SKYFRAME_CELESTIAL          1112
#define IDC_SKYFRAME_OBSERVER           1113
#define IDC_OBSERVERTIME_EDIT           1114
#define IDC_UT1MINUSUTC_EDIT            1115
#define IDC_UT1MINUSUTC_SPIN            1116
#define IDC_OBSERVERLATITUDE_EDIT       1117
#define IDC_OBSERVERLATITUDE_SPIN       1118
#define IDC_OBSERVERLONGITUDE_EDIT      1119
#define IDC_OBSERVERLONGITUDE_SPIN      1120
#define IDC_OBSERVERHEIGHT_EDIT         1121
#define IDC_OBSERVERHEIGHT_SPIN         1122
#define IDC_REFRACTION_CHECK            1123
#define IDC_REFRACTIONPRESSURE_EDIT     1124
#define IDC_REFRACTIONPRESSURE_SPIN     1125
#define IDC_REFRACTIONTEMPERATURE_EDIT  1126
#define IDC_REFRACTIONTEMPERATURE_SPIN  1127
#define IDC_BELOWHORIZON_CHECK          1128
#define IDC_FILLIN_CHECK                1129
