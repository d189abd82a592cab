import type { ExtensionAPI } from "@earendil-works/pi-coding-agent";

// Manual command only. Installing this adapter does not enable lifecycle hooks.
export default function (pi: ExtensionAPI) {
  pi.registerCommand("tl", {
    description: "Find reusable recipes or explicitly share an anonymized technical lesson",
    handler: async (args, ctx) => {
      if (args.trim() === "") {
        ctx.ui.notify("/tl search … | inspect … | context … | share …", "info");
        return;
      }
      pi.sendUserMessage(`Use the tl skill for this explicit request: ${args}`);
    },
  });
}
