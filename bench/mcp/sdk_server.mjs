// Anchor for bench/mcp.sh: a stdio MCP server as the TypeScript SDK writes
// it, offering tools of the same shape as tarn-agent's.
import { Server } from "@modelcontextprotocol/sdk/server/index.js";
import { StdioServerTransport } from "@modelcontextprotocol/sdk/server/stdio.js";
import { CallToolRequestSchema, ListToolsRequestSchema } from "@modelcontextprotocol/sdk/types.js";

const schema = (name) => ({
  type: "object",
  properties: { [name]: { type: "string" } },
  required: [name],
  additionalProperties: false,
});
const tools = [
  { name: "search", description: "Search using a generalized technical query only.", inputSchema: schema("query") },
  { name: "inspect", description: "Read a recipe.", inputSchema: schema("ref") },
  { name: "context", description: "Compile a recipe context.", inputSchema: schema("ref") },
  { name: "share", description: "Publish exact prepared digest.", inputSchema: schema("digest") },
  { name: "prepare", description: "Queue a recipe.", inputSchema: schema("recipe") },
];

const server = new Server({ name: "sdk-anchor", version: "0.1.0" }, { capabilities: { tools: {} } });
server.setRequestHandler(ListToolsRequestSchema, async () => ({ tools }));
server.setRequestHandler(CallToolRequestSchema, async () => ({
  content: [{ type: "text", text: "unknown tool" }],
  isError: true,
}));
await server.connect(new StdioServerTransport());
