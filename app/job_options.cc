#include "app/job_options.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "app/media.h"
#include "conf/set_conf.h"

namespace {

bool offered(int32_t resolution) {
  return std::find(std::begin(OFFERED_RESOLUTIONS), std::end(OFFERED_RESOLUTIONS), resolution) !=
         std::end(OFFERED_RESOLUTIONS);
}

}  // namespace

int32_t job_resolution(pappl_job_t* job, const pappl_pr_options_t& options,
                       const cups_page_header2_t* page) {
  if (papplJobGetAttribute(job, "printer-resolution") != nullptr) {
    return options.printer_resolution[0];
  }
  if (page != nullptr) {
    const auto x = static_cast<int32_t>(page->HWResolution[0]);
    if (x == static_cast<int32_t>(page->HWResolution[1]) && offered(x)) return x;
  }
  if (page == nullptr && papplJobGetAttribute(job, "print-quality") != nullptr) {
    return options.printer_resolution[0];
  }
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(papplJobGetPrinter(job), &data);
  return data.x_default > 0 ? data.x_default : options.printer_resolution[0];
}

const PaperConf* job_paper(const pappl_pr_options_t& options, char* message) {
  const JobMedia media = resolve_media(options.media);
  if (media.row == nullptr) describe_unfeedable(options.media, message, JOB_MESSAGE_SIZE);
  return media.row;
}

int32_t job_ink(const pappl_pr_options_t& options) {
  return options.print_color_mode == PAPPL_COLOR_MODE_MONOCHROME ? INK_MONO : INK_COLOUR;
}

bool job_conf(const PaperConf& paper, int32_t ink, int32_t resolution, Conf* conf, char* message) {
  if (fill_conf_for_paper(conf, ink, resolution, paper) == CONF_USABLE) return true;
  static_cast<void>(std::snprintf(message, JOB_MESSAGE_SIZE, "Size %s at %d dpi cannot be printed",
                                  paper.name, resolution));
  return false;
}
