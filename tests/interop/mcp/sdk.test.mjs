// The official MCP TypeScript SDK client against the real `tarn-agent mcp`,
// with the local registry tool behind it.
import { Client } from "@modelcontextprotocol/sdk/client/index.js";
import { StdioClientTransport } from "@modelcontextprotocol/sdk/client/stdio.js";
import { execFileSync } from "node:child_process";
import { chmodSync, mkdirSync, mkdtempSync, rmSync, writeFileSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";

const agent = process.env.TARN_AGENT_BIN;
const registryTool = process.env.TARN_REGISTRY_BIN;
if (!agent || !registryTool) {
  console.error("FAIL: TARN_AGENT_BIN and TARN_REGISTRY_BIN must name the built programs");
  process.exit(1);
}

const origin = "https://registry.example/";
const recipe = {
  id: "retry-backoff",
  version: 1,
  title: "Retry transient HTTP failures with exponential backoff",
  kind: "pattern",
  intent: "Retry idempotent requests after transient failures with capped exponential backoff and jitter.",
};
const ref = "retry-backoff@1";

function check(condition, message) {
  if (!condition) throw new Error(message);
}

function makeHome() {
  const home = mkdtempSync(join(tmpdir(), "tarn-sdk-"));
  const configDir = join(home, ".config", "tarn-agent");
  mkdirSync(configDir, { recursive: true, mode: 0o700 });
  const config = join(configDir, "config.json");
  const document = {
    documentation_hosts: ["docs.python.org"],
    mode: "manual",
    private_terms: ["orchid"],
    registry: origin,
    tarn_bin: registryTool,
  };
  writeFileSync(config, JSON.stringify(document, null, 2), { mode: 0o600 });
  chmodSync(config, 0o600);
  const recipeFile = join(home, "recipe.json");
  writeFileSync(recipeFile, JSON.stringify(recipe));
  return { home, config, recipeFile, db: join(home, "registry.sqlite3") };
}

// Published through the registry tool directly: this check is about the client, not `share`.
function publish({ recipeFile, db }) {
  let out;
  try {
    out = execFileSync(registryTool, ["publish", recipeFile, "--json", "--timeout", "10s"], {
      env: { PATH: process.env.PATH, TARN_URL: origin, TARN_TOKEN: "tl_sdk_check", TARN_REGISTRY_DB: db },
      encoding: "utf8",
    });
  } catch (error) {
    throw new Error(`publishing with ${registryTool} failed: ${error.message}`);
  }
  const printed = JSON.parse(out || "null");
  check(printed?.ref === ref, `publishing with ${registryTool} printed ${JSON.stringify(out)}, not ref ${ref}`);
}

function text(result) {
  check(Array.isArray(result.content) && result.content.length === 1, "one content item expected");
  check(result.content[0].type === "text", "a text item expected");
  return result.content[0].text;
}

async function session(paths) {
  const transport = new StdioClientTransport({
    command: agent,
    args: ["mcp"],
    // The transport passes only a few variables of its own; the rest must be given.
    env: { TARN_AGENT_CONFIG: paths.config, TARN_REGISTRY_DB: paths.db },
    stderr: "pipe",
  });
  let stderr = "";
  transport.stderr?.on("data", (chunk) => (stderr += chunk));
  const client = new Client({ name: "tarn-sdk-check", version: "1.0.0" });
  try {
    await client.connect(transport);
    check(client.getServerVersion()?.name === "tarn-agent", "server name tarn-agent expected");

    const { tools } = await client.listTools();
    const names = tools.map((t) => t.name).join(",");
    check(names === "search,inspect,context,share,prepare", `tools were ${names}`);

    const found = await client.callTool({ name: "search", arguments: { query: "exponential backoff" } });
    check(found.isError === false, `search failed: ${JSON.stringify(found)}`);
    check(text(found).includes(ref), `search text lacks ${ref}: ${text(found)}`);

    const unknown = await client.callTool({ name: "tarn.search", arguments: { query: "backoff" } });
    check(unknown.isError === true && text(unknown) === "unknown tool", `unknown tool gave ${JSON.stringify(unknown)}`);
  } catch (error) {
    throw new Error(stderr ? `${error.message} (server: ${stderr.trim()})` : error.message);
  } finally {
    await client.close();
  }
  check(stderr === "", `the server wrote to standard error: ${stderr}`);
}

const paths = makeHome();
try {
  publish(paths);
  await session(paths);
  console.log("ok: SDK client listed 5 tools, found", ref, "and got an unknown-tool result");
} catch (error) {
  console.error("FAIL:", error.message);
  process.exitCode = 1;
} finally {
  rmSync(paths.home, { recursive: true, force: true });
}
