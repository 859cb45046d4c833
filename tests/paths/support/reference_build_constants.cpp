// The build constants that the generated image object defines, with the values
// of the reference build.
#include "paths/path_spec.h"

extern "C" const wchar_t onefile_company_name[] = L"Vellmore Limited";
extern "C" const wchar_t onefile_product_name[] = L"Lumbrick";
extern "C" const wchar_t onefile_version_text[] = L"1.0.0.0";
